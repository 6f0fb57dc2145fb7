// The abstract byte-stream interfaces of the stream layer.
//
// Three interfaces, one for reading, one for writing and one for positioning,
// are combined through virtual inheritance:
//
//   ZKRead    ZKSeek    ZKWrite
//      \     /(virtual)\     /
//    ZKSeekRead       ZKSeekWrite
//            \         /
//          ZKSeekReadWrite        (one shared ZKSeek sub-object)
//
// The interfaces hold no data and declare no destructor: stream objects are
// always deleted through their concrete class. A ZKSeekReadWrite handed out
// as ZKRead or ZKWrite acts on one underlying object and one position.
//
// Sizes, counts and positions are 32-bit unsigned values on the target.
// Failures are raised as ZkStreamException (stream/stream_exception.h); which
// of its two forms a stream raises is part of that stream's contract.
#pragma once

class ZKRead {
 public:
  // Copies up to `count` bytes into `buffer` and returns how many it copied.
  // A result below `count` is not an error; 0 means that no more data is
  // available now, or that `count` was 0. Failures raise.
  virtual unsigned long stRead(void* buffer, unsigned long count) = 0;
};

class ZKWrite {
 public:
  // Writes all `count` bytes and returns `count`. A stream that cannot write
  // all of them raises; it never returns a short count.
  virtual unsigned long stWrite(const void* buffer, unsigned long count) = 0;
};

// Origins for ZKSeek::stSeek (the values of FILE_BEGIN, FILE_CURRENT and
// FILE_END).
constexpr int ZK_SEEK_BEGIN = 0;
constexpr int ZK_SEEK_CURRENT = 1;
constexpr int ZK_SEEK_END = 2;

// Only ever used as a virtual base.
class ZKSeek {
 public:
  // Length of the underlying data in bytes; the position is left unchanged.
  virtual unsigned long stGetLength() = 0;
  // The current position, counted from the start.
  virtual unsigned long stTell() = 0;
  // Moves the position by `distance` from `origin` (ZK_SEEK_*) and returns
  // the new position counted from the start.
  virtual unsigned long stSeek(long distance, int origin) = 0;
  // Locks a byte range against other processes: 0 on success, -1 on
  // failure. Never raises. The meaning of `reserved` is left to the stream.
  virtual long stLock(unsigned long offset, unsigned long length,
                      unsigned long reserved) = 0;
  // Releases a range locked before; returns a nonzero value, raises on
  // failure.
  virtual long stUnlock(unsigned long offset, unsigned long length) = 0;
};

class ZKSeekRead : public ZKRead, public virtual ZKSeek {};

class ZKSeekWrite : public ZKWrite, public virtual ZKSeek {};

class ZKSeekReadWrite : public ZKSeekRead, public ZKSeekWrite {};
