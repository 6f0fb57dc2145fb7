// Inflating an archive entry whole: its zlib stream, straight from the
// mapped archive, in one call of libdeflate's zlib decompressor into a
// buffer of exactly the record's length, which the run keeps and reuses.
#pragma once

#include <cstddef>
#include <memory>

struct libdeflate_decompressor;

namespace kv {

// Largest recorded length that is inflated whole. What the buffer adds to
// the process's private memory stays below it (and so well below 16 MiB);
// larger entries are inflated through the zlib stream in steps.
constexpr unsigned long kWholeEntryLimit = 8ul << 20;

class WholeEntryInflater {
 public:
  // Entries of up to `limit` bytes are taken. Allocates nothing yet.
  explicit WholeEntryInflater(unsigned long limit = kWholeEntryLimit);
  ~WholeEntryInflater();
  WholeEntryInflater(const WholeEntryInflater&) = delete;
  WholeEntryInflater& operator=(const WholeEntryInflater&) = delete;

  unsigned long Limit() const { return limit_; }

  // Inflates the zlib stream of `compressedLength` (> 0) bytes at `data`
  // into the buffer, given exactly `recordedLength` (<= Limit()) bytes of
  // room: nothing is ever written beyond that, whatever the stream holds.
  // Bytes after the stream's end are ignored. Returns true when the stream
  // ended intact (its Adler-32 matched) after exactly `recordedLength`
  // bytes, which Data() then holds. Returns false for everything else: a
  // damaged or cut stream, one that gives fewer or more bytes, and a buffer
  // or decompressor that memory could not be had for. The caller then
  // inflates through the zlib stream, which tells these apart: libdeflate
  // reads a cut stream as if zeros followed it, so its answer cannot tell a
  // stream cut short from one that goes on beyond its record.
  bool Inflate(const void* data, unsigned long compressedLength, unsigned long recordedLength);

  // The inflated entry, after Inflate returned true.
  const unsigned char* Data() const { return buffer_.get(); }

 private:
  // Makes the buffer hold at least `length` bytes. The buffer only grows,
  // at least doubling up to the limit, so a run of growing entries
  // allocates a few times, not once per entry.
  bool Reserve(unsigned long length);

  unsigned long limit_;
  libdeflate_decompressor* decompressor_ = nullptr;
  std::unique_ptr<unsigned char[]> buffer_;
  unsigned long capacity_ = 0;
};

}  // namespace kv
