#include "bench/archive_facts.h"

#include <cctype>
#include <map>

#include "archive/archive_format.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kv::bench {

ArchiveFacts ReadArchiveFacts(const std::string& program) {
  ArchiveFacts facts;
  ScopedModule module(::LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module.IsValid()) {
    facts.error = "cannot load " + program + " as a data file";
    return facts;
  }
  // Entry names compare without regard to case, as the file system does.
  std::map<std::string, std::uint32_t> sizes;
  for (const char* const* name = kUnpackedArchives; *name; ++name) {
    HRSRC found = ::FindResourceA(module.Get(), *name, kArchiveResourceType);
    if (!found) continue;
    HGLOBAL loaded = ::LoadResource(module.Get(), found);
    const auto* data = static_cast<const std::uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
    const DWORD size = ::SizeofResource(module.Get(), found);
    if (!data) {
      facts.error = std::string("cannot read archive ") + *name;
      return facts;
    }
    const ArchiveDirectory directory = ReadArchiveDirectory(data, size);
    if (!directory.ok()) {
      facts.error = std::string("archive ") + *name + ": " + directory.error;
      return facts;
    }
    ++facts.archives;
    facts.archiveBytes += size;
    facts.entries += directory.entries.size();
    for (const ArchiveEntry& entry : directory.entries) {
      std::string key = entry.name;
      for (char& c : key) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
      sizes[key] = entry.uncompressedLength;
    }
  }
  facts.files = sizes.size();
  for (const auto& item : sizes) facts.bytes += item.second;
  facts.ok = true;
  return facts;
}

}  // namespace kv::bench
