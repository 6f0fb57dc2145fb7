// Where the project's writers put the files they make (an archive, a setup
// executable): bytes appended front to back, with the room for what is
// known only later (an offset, a directory, a checksum) written over once it
// is known. kvpack's output file is one sink (tools/kvpack/host); a block of
// memory is the other, so every writer is tested and fuzzed without a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

class ByteSink {
 public:
  // Adds count bytes at the end. False with a one-line *error when they
  // cannot be written; what was written before stays.
  virtual bool Append(const std::uint8_t* data, std::size_t count, std::string* error) = 0;
  // Writes over bytes appended before: offset + count <= Size(), else false
  // with *error and nothing written.
  virtual bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count,
                       std::string* error) = 0;
  // Reads bytes appended before: offset + count <= Size(), else false.
  virtual bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count,
                      std::string* error) = 0;
  // Bytes appended so far.
  virtual std::uint64_t Size() const = 0;

 protected:
  ~ByteSink() = default;
};

// A sink in memory. Append throws std::bad_alloc when memory runs out;
// nothing else fails but a range past Size().
class MemorySink final : public ByteSink {
 public:
  bool Append(const std::uint8_t* data, std::size_t count, std::string* error) override;
  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count,
               std::string* error) override;
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count,
              std::string* error) override;
  std::uint64_t Size() const override { return bytes_.size(); }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  bool Inside(std::uint64_t offset, std::size_t count, std::string* error) const;

  std::vector<std::uint8_t> bytes_;
};

}  // namespace kv
