#include "stream/mem_read_stream.h"

#include <cstring>

ZKMemRead::ZKMemRead(const void* data, unsigned long length)
    : position_(static_cast<const unsigned char*>(data)), remaining_(length) {}

ZKMemRead::ZKMemRead(const ZKMemRead& other)
    : position_(other.position_), remaining_(other.remaining_) {}

ZKMemRead& ZKMemRead::operator=(const ZKMemRead& other) {
  position_ = other.position_;
  remaining_ = other.remaining_;
  return *this;
}

ZKMemRead::~ZKMemRead() {}

unsigned long ZKMemRead::stRead(void* buffer, unsigned long count) {
  const unsigned long n = count > remaining_ ? remaining_ : count;
  if (n != 0) std::memcpy(buffer, position_, n);
  position_ += n;
  remaining_ -= n;
  return n;
}
