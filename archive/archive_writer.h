// The one writer of the archive frame (archive_format.h has the layout):
// kvpack pack writes an archive file with it, kvpack setup each archive
// inside the resource section, the tests and fuzzers archives in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_format.h"
#include "bytes/byte_sink.h"

namespace kv {

// Writes one archive into a sink, front to back, from the sink's end as
// Begin finds it: Begin leaves 4 bytes of room for D; Append adds the
// current entry's zlib stream as it comes; EndEntry takes the bytes
// appended since the entry before as the entry and keeps its record;
// Finish appends N and the records and writes D into the room. Every call
// returns false with a one-line *error when the sink fails, and EndEntry
// when the name fails ValidateEntryName or the archive, its directory
// included, would pass 4 GiB - 1 bytes ("entry "<name>": ...", the name as
// PrintableText shows it); the sink then holds an unfinished archive.
// Throws only std::bad_alloc.
class ArchiveWriter {
 public:
  bool Begin(ByteSink* sink, std::string* error);
  bool Append(const std::uint8_t* bytes, std::size_t count, std::string* error);
  bool EndEntry(std::string_view name, std::uint32_t uncompressedLength,
                const std::array<std::uint32_t, 3>& times, std::string* error);
  bool Finish(std::string* error);

  // Where the archive starts in the sink, and its bytes so far (after
  // Finish, its size).
  std::uint64_t Start() const { return start_; }
  std::uint64_t Size() const { return sink_->Size() - start_; }
  std::uint32_t Entries() const { return count_; }

 private:
  ByteSink* sink_ = nullptr;
  std::uint64_t start_ = 0;
  std::uint64_t entryStart_ = 0;  // in the sink
  std::uint32_t count_ = 0;
  std::vector<std::uint8_t> records_;
};

// One file to be packed.
struct PackEntry {
  std::string name;  // ANSI, backslash-separated; must pass ValidateEntryName
  std::vector<std::uint8_t> bytes;
  std::array<std::uint32_t, 3> times{};
};

// Builds an archive image of the entries in the given order with
// ArchiveWriter: each entry's zlib stream at zlib's default level (so it
// starts 0x78 0x9C), from offset 4 without gaps, then the directory ending
// at the end of the image. The same entries always give the same bytes. An
// empty entry is stored as a complete 8-byte zlib stream, never with
// compressed length 0. Returns false with ArchiveWriter's one-line *error;
// *image is then unspecified. Throws only std::bad_alloc.
bool BuildArchive(const std::vector<PackEntry>& entries,
                  std::vector<std::uint8_t>* image, std::string* error);

// One entry whose data is compressed already.
struct PackedEntry {
  std::string name;                   // ANSI, backslash-separated
  std::vector<std::uint8_t> stream;   // one complete zlib stream
  std::uint32_t uncompressedLength = 0;
  std::array<std::uint32_t, 3> times{};
};

// Builds an archive image of compressed entries in the given order, laid
// out as BuildArchive lays it out. Returns false as BuildArchive does.
bool BuildArchiveFromStreams(const std::vector<PackedEntry>& entries,
                             std::vector<std::uint8_t>* image, std::string* error);

}  // namespace kv
