#include "archive/combining_writer.h"

#include <cstring>

namespace kv {

CombiningWriter::CombiningWriter(ZKWrite* target)
    : target_(target), block_(new unsigned char[kBlockSize]) {}

unsigned long CombiningWriter::stWrite(const void* buffer, unsigned long count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  unsigned long left = count;
  while (left > 0) {
    if (used_ == 0 && left >= kBlockSize) {
      // A large write needs no copy.
      target_->stWrite(bytes, left);
      break;
    }
    unsigned long take = kBlockSize - used_;
    if (take > left) take = left;
    std::memcpy(block_.get() + used_, bytes, take);
    used_ += take;
    bytes += take;
    left -= take;
    if (used_ == kBlockSize) Flush();
  }
  return count;
}

void CombiningWriter::Flush() {
  if (used_ == 0) return;
  const unsigned long n = used_;
  used_ = 0;  // a failing target does not get the same bytes twice
  target_->stWrite(block_.get(), n);
}

}  // namespace kv
