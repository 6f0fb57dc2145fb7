// What a setup-like executable carries in the archives the launcher
// unpacks: how many bytes of resources it maps, and what a complete unpack
// leaves in the work folder.
#pragma once

#include <cstdint>
#include <string>

namespace kv::bench {

struct ArchiveFacts {
  bool ok = false;
  std::string error;
  int archives = 0;                 // of the six, present in the executable
  std::uint64_t archiveBytes = 0;   // their resource sizes, added up
  std::uint64_t entries = 0;        // their directory records
  std::uint64_t files = 0;          // distinct entry names: files unpacked
  std::uint64_t bytes = 0;          // their sizes (a later archive's entry
                                    // replaces an earlier one of that name)
  // Where the resource section starts in the file. Wine maps a section
  // from the file only when it starts on a page boundary there; otherwise
  // it reads the section into private memory when the program starts,
  // which costs time and memory in proportion to the archives.
  std::uint32_t resourceFileOffset = 0;
  bool ResourcesMapped() const { return resourceFileOffset % 4096 == 0; }
};

// Loads `program` as a data file (nothing of it runs) and reads the
// directories of BASE, SETUPBASE, SETUPPHOTO, PHOTOEDITION, KVIMAGE and
// KVVERSION, and finds the resource section in the file's section table.
// Fails when the file cannot be loaded or an archive is damaged.
ArchiveFacts ReadArchiveFacts(const std::string& program);

}  // namespace kv::bench
