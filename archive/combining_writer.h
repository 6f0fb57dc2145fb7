// A ZKWrite that gathers small writes into large ones. The inflate copier
// hands its target at most 100 bytes a call; a file written that way costs
// one system call per 100 bytes. Put between the copier and the file, this
// writer passes the bytes on in blocks of kBlockSize.
#pragma once

#include <memory>

#include "stream/stream_interfaces.h"

namespace kv {

class CombiningWriter : public ZKWrite {
 public:
  static constexpr unsigned long kBlockSize = 64 * 1024;

  // Writes go to `target`, which must outlive this writer.
  explicit CombiningWriter(ZKWrite* target);
  CombiningWriter(const CombiningWriter&) = delete;
  CombiningWriter& operator=(const CombiningWriter&) = delete;
  // Does not flush: bytes not flushed are dropped, so an error path never
  // writes behind the caller's back. Call Flush before closing the target.
  ~CombiningWriter() = default;

  // Takes `count` bytes; passes full blocks on at once. Returns count.
  // Exceptions of the target's stWrite pass through.
  unsigned long stWrite(const void* buffer, unsigned long count) override;

  // Passes on every byte still held. Exceptions of the target pass through.
  void Flush();

 private:
  ZKWrite* target_;
  std::unique_ptr<unsigned char[]> block_;
  unsigned long used_ = 0;
};

}  // namespace kv
