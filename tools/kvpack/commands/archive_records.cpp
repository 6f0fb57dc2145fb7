#include "tools/kvpack/commands/archive_records.h"

#include "archive/archive_format.h"

namespace kv {

ArchiveRecords::ArchiveRecords(std::uint32_t count) { AppendU32(count); }

bool ArchiveRecords::Add(const FileToPack& f, std::uint64_t offset, std::uint64_t length,
                         const std::string& archive, std::string* error) {
  if (offset + length + bytes_.size() + kRecordFixedSize + f.name.size() > kMaxArchiveSize) {
    *error = archive + ": entry \"" + f.name + "\": the archive would exceed 4 GiB - 1 bytes";
    return false;
  }
  bytes_.push_back(static_cast<std::uint8_t>(f.name.size()));
  bytes_.insert(bytes_.end(), f.name.begin(), f.name.end());
  AppendU32(static_cast<std::uint32_t>(offset));
  AppendU32(static_cast<std::uint32_t>(length));
  AppendU32(static_cast<std::uint32_t>(f.size));
  for (std::uint32_t t : f.times) AppendU32(t);
  return true;
}

void ArchiveRecords::AppendU32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace kv
