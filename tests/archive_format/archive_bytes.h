// Hand-made archive images for reader tests: every field written as the
// test says, including the ones no writer would produce.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

class ArchiveBytes {
 public:
  ArchiveBytes& U8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  ArchiveBytes& U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  ArchiveBytes& Text(const std::string& s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  ArchiveBytes& Raw(const std::vector<std::uint8_t>& b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
  }
  ArchiveBytes& Zeros(std::size_t n) {
    bytes_.insert(bytes_.end(), n, 0);
    return *this;
  }
  // A whole record: length byte, name, then the six fields.
  ArchiveBytes& Record(const std::string& name, std::uint32_t offset, std::uint32_t compressed,
                       std::uint32_t uncompressed, std::uint32_t t1 = 0, std::uint32_t t2 = 0,
                       std::uint32_t t3 = 0) {
    return U8(static_cast<std::uint8_t>(name.size()))
        .Text(name)
        .U32(offset)
        .U32(compressed)
        .U32(uncompressed)
        .U32(t1)
        .U32(t2)
        .U32(t3);
  }
  std::size_t size() const { return bytes_.size(); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace kv::test
