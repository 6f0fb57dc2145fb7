// Finds the archives in a file that kvpack is asked to list or verify: the
// file itself when it is an archive, or each "KVArc" resource when it is an
// executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kvpack/host_files.h"

namespace kv {

// One archive inside a loaded file; data points into LoadedFile::file.
struct ArchiveSource {
  std::string label;     // "archive" for a plain file, else "resource BASE (language 1031)"
  std::string name;      // resource name, empty for a plain file
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

struct LoadedFile {
  MappedFile file;
  bool isExecutable = false;
  std::vector<ArchiveSource> archives;
};

// Maps the file at path (its pages are read as they are used, so a setup
// of any size is listed and verified in little memory). A file that starts like a PE file ("MZ" and
// a "PE" signature where its DOS header points) is an executable: every
// resource of type "KVArc" in it becomes one source, in resource directory
// order. Any other file is taken as one archive.
// Returns false with a one-line *error when the file cannot be read, or it
// is an executable whose resource directory breaks a bound, or it is an
// executable without any "KVArc" resource.
bool LoadArchives(const std::string& path, LoadedFile* out, std::string* error);

}  // namespace kv
