#include "bench/archive_facts.h"

#include <cctype>
#include <map>
#include <vector>

#include "archive/archive_format.h"
#include "pe/pe_headers.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kv::bench {
namespace {

// The file offset of the section named .rsrc, or 0 when the headers do
// not show one.
std::uint32_t ResourceSectionOffset(const std::string& program) {
  ScopedFileHandle file(::CreateFileA(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return 0;
  std::vector<std::uint8_t> head(4096);
  DWORD read = 0;
  if (!::ReadFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr)) return 0;
  PeHeaders headers;
  std::string why;
  if (ReadPeHeaders(head.data(), read, &headers, &why) != PeFault::kNone) return 0;
  for (const PeSection& section : headers.sections) {
    if (section.name == ".rsrc") return section.rawOffset;
  }
  return 0;
}

}  // namespace

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
  facts.resourceFileOffset = ResourceSectionOffset(program);
  for (const auto& item : sizes) facts.bytes += item.second;
  facts.ok = true;
  return facts;
}

}  // namespace kv::bench
