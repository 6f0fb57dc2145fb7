// The directory of an archive that is written entry by entry: the count,
// then one record per entry in the order the entries are added.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/kvpack/payload/folder_scan.h"

namespace kv {

class ArchiveRecords {
 public:
  // Starts the directory of an archive of `count` entries.
  explicit ArchiveRecords(std::uint32_t count);

  // Adds the record of file f, whose zlib stream of `length` bytes lies at
  // `offset` of the archive. False with a one-line *error naming the entry
  // (and `archive`) when the archive, this record and the directory so far
  // included, would pass 4 GiB - 1 bytes.
  bool Add(const FileToPack& f, std::uint64_t offset, std::uint64_t length,
           const std::string& archive, std::string* error);

  // The count and the records added so far, as they are stored.
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  void AppendU32(std::uint32_t v);

  std::vector<std::uint8_t> bytes_;
};

}  // namespace kv
