#include "bench/archive_facts.h"

#include <cctype>
#include <map>

#include "archive/archive_format.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kv::bench {
namespace {

std::uint32_t Read32(const std::string& bytes, size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The file offset of the section named .rsrc, or 0 when the headers do
// not show one.
std::uint32_t ResourceSectionOffset(const std::string& program) {
  ScopedFileHandle file(::CreateFileA(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return 0;
  std::string head(4096, '\0');
  DWORD read = 0;
  if (!::ReadFile(file.Get(), &head[0], static_cast<DWORD>(head.size()), &read, nullptr)) return 0;
  head.resize(read);
  if (head.size() < 0x40) return 0;
  const size_t pe = Read32(head, 0x3c);
  if (pe + 24 > head.size() || head.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
  const unsigned sections = static_cast<unsigned char>(head[pe + 6]) |
                            static_cast<unsigned char>(head[pe + 7]) << 8;
  const size_t optional = static_cast<unsigned char>(head[pe + 20]) |
                          static_cast<unsigned char>(head[pe + 21]) << 8;
  for (size_t s = pe + 24 + optional, i = 0; i < sections && s + 40 <= head.size(); ++i, s += 40) {
    if (head.compare(s, 6, std::string(".rsrc\0", 6)) == 0) return Read32(head, s + 20);
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
