// ZKMemRead: a ZKRead over a block of memory that somebody else owns.
//
// The block is neither copied nor owned; it must outlive every reader over
// it. Position plus remaining is always the end of the block given to the
// constructor. The class and its virtual table are exported by the launcher
// executable, so its layout (virtual table pointer, position, remaining) and
// its members are fixed: the destructor is deliberately not virtual.
#pragma once

#include "platform/export.h"
#include "stream/stream_interfaces.h"

class KV_EXPORT ZKMemRead : public ZKRead {
 public:
  // Reads `length` bytes starting at `data`.
  ZKMemRead(const void* data, unsigned long length);
  // Copies position and remaining; afterwards the two readers advance
  // independently over the same block.
  ZKMemRead(const ZKMemRead& other);
  ZKMemRead& operator=(const ZKMemRead& other);
  // Releases nothing.
  ~ZKMemRead();

  // Copies min(count, remaining) bytes, advances by that many and returns
  // it. Never raises; past the end it returns 0. `buffer` must not overlap
  // the block.
  unsigned long stRead(void* buffer, unsigned long count) override;

 private:
  const unsigned char* position_;
  unsigned long remaining_;
};
