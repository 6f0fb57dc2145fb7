#include "archive/whole_entry_inflate.h"

#include <new>

#include "libdeflate.h"

namespace kv {

WholeEntryInflater::WholeEntryInflater(unsigned long limit) : limit_(limit) {}

WholeEntryInflater::~WholeEntryInflater() {
  if (decompressor_) libdeflate_free_decompressor(decompressor_);
}

bool WholeEntryInflater::Reserve(unsigned long length) {
  if (length <= capacity_ && buffer_) return true;
  unsigned long size = capacity_ > limit_ / 2 ? limit_ : capacity_ * 2;
  if (size < length) size = length;
  if (size == 0) size = 1;  // a buffer to point at, also for an empty record
  buffer_.reset();  // the old block goes first: never two at once
  capacity_ = 0;
  buffer_.reset(new (std::nothrow) unsigned char[size]);
  if (!buffer_) return false;
  capacity_ = size;
  return true;
}

bool WholeEntryInflater::Inflate(const void* data, unsigned long compressedLength,
                                 unsigned long recordedLength) {
  if (!decompressor_) decompressor_ = libdeflate_alloc_decompressor();
  if (!decompressor_ || !Reserve(recordedLength)) return false;
  // The room handed over is the record's length, not the buffer's: a
  // stream that would go on beyond it is answered "insufficient space"
  // before a byte lands past it. Without a count to return, a stream that
  // ends early is answered "short output".
  return libdeflate_zlib_decompress(decompressor_, data, compressedLength, buffer_.get(),
                                    recordedLength, nullptr) == LIBDEFLATE_SUCCESS;
}

}  // namespace kv
