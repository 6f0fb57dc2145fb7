#include <cstring>

#include "bytes/byte_sink.h"

namespace kv {

bool MemorySink::Append(const std::uint8_t* data, std::size_t count, std::string*) {
  bytes_.insert(bytes_.end(), data, data + count);
  return true;
}

bool MemorySink::Inside(std::uint64_t offset, std::size_t count, std::string* error) const {
  if (offset <= bytes_.size() && count <= bytes_.size() - offset) return true;
  *error = "bytes " + std::to_string(offset) + " + " + std::to_string(count) +
           " lie past the " + std::to_string(bytes_.size()) + " written";
  return false;
}

bool MemorySink::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count,
                         std::string* error) {
  if (!Inside(offset, count, error)) return false;
  if (count != 0) std::memcpy(bytes_.data() + offset, data, count);
  return true;
}

bool MemorySink::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count,
                        std::string* error) {
  if (!Inside(offset, count, error)) return false;
  if (count != 0) std::memcpy(data, bytes_.data() + offset, count);
  return true;
}

}  // namespace kv
