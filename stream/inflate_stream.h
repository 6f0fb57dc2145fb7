// zlib decompression in the stream layer: the engine ZKInflate, the pump
// interface ZKTransfer and the copier ZKInflateCopy, which pulls compressed
// bytes from a ZKRead and pushes the inflated bytes into a ZKWrite.
//
// Every exception raised here is a ZkStreamException thrown by value with
// the text "Zlib-Fehler" (codes -5, -9, -10, -11). Exceptions from a
// source's stRead or a target's stWrite pass through unchanged.
//
// Damaged data (a zlib data error, a wrong Adler-32 checksum) and truncated
// data are not errors here: the inflation ends quietly and the caller gets
// exactly the bytes inflated before that point. An owner that must tell a
// complete stream from a damaged one asks ReachedStreamEnd() afterwards.
#pragma once

#include <zlib.h>

#include "stream/stream_interfaces.h"

// Compressed bytes held between refills by ZKInflateCopy (113, not 128).
constexpr unsigned long ZK_INFLATE_COPY_INPUT_SIZE = 113;
// Largest block that ZKInflateCopy::stTransfer hands to one stWrite call.
constexpr unsigned long ZK_INFLATE_COPY_CHUNK_SIZE = 100;

// Owns zlib's stream record, an input buffer and a state:
//   Idle --StartInflate--> Inflating --(inflate returns non-Z_OK)--> Ended
//   Inflating or Ended --EndInflate--> Idle
// Any other call order raises -11. zlib's state is initialised afresh by
// every StartInflate and released by EndInflate; it is never reset in place.
class ZKInflate {
 public:
  enum State { Idle, Inflating, Ended };

  // Allocates an input buffer of `bufferSize` bytes; raises -10 if that
  // fails. State Idle.
  explicit ZKInflate(unsigned long bufferSize);
  // Frees the input buffer. If an exception left an inflation unfinished
  // (state Inflating or Ended), releases zlib's state too.
  virtual ~ZKInflate();

  ZKInflate(const ZKInflate&) = delete;
  ZKInflate& operator=(const ZKInflate&) = delete;

  // Idle only, else raises -11. Initialises zlib (any failure raises -5)
  // with an empty input buffer, so the first read refills it. State
  // Inflating; ReachedStreamEnd() false and TotalOut() 0.
  void StartInflate();

  // Inflating or Ended only, else raises -11. In state Ended returns 0.
  // Otherwise inflates into `buffer` until `count` bytes are produced or
  // zlib answers anything but Z_OK; the input buffer is refilled from
  // `source` (a whole buffer's worth asked for) whenever it is empty. Any
  // answer but Z_OK (the stream's end, a data error, no more input) sets
  // state Ended without raising. Returns the number of bytes produced.
  // Bytes that the source gave beyond the end of the zlib stream are
  // dropped.
  unsigned long ReadInflated(void* buffer, unsigned long count,
                             ZKRead* source);

  // Inflating or Ended only, else raises -11. Releases zlib's state (an
  // error there raises -9) and discards any input still buffered. State
  // Idle. `source` is not used.
  void EndInflate(ZKRead* source);

  State GetState() const { return state_; }

  // True when zlib confirmed the end of the stream (Z_STREAM_END), which
  // includes a correct Adler-32 checksum, during the current or most recent
  // inflation. False after a data error, a wrong checksum, input that ran
  // out, or an inflation stopped before the end was read. Valid from
  // StartInflate until the next StartInflate, also after EndInflate.
  bool ReachedStreamEnd() const { return reachedEnd_; }

  // Bytes produced by ReadInflated during the current or most recent
  // inflation, counted in 64 bits (a stream may yield more than 4 GiB);
  // same validity as ReachedStreamEnd().
  unsigned long long TotalOut() const { return totalOut_; }

 private:
  z_stream stream_;
  unsigned char* input_;
  unsigned long inputSize_;
  State state_;
  bool reachedEnd_;
  unsigned long long totalOut_;
};

// A pump from a ZKRead into a ZKWrite. No data.
class ZKTransfer {
 public:
  // Moves up to `count` bytes (0: until the source is exhausted) from
  // `source` to `target` and returns how many were moved.
  virtual unsigned long stTransfer(ZKWrite* target, ZKRead* source,
                                   unsigned long count) = 0;
  // Reserved; nothing calls it.
  virtual unsigned long stReserved(unsigned long a, unsigned long b,
                                   unsigned long c) = 0;
};

// Inflates a zlib stream from a source into a target, with a 113-byte input
// buffer and at most 100 bytes per stWrite call. Idle before and after each
// transfer, so one object can run several transfers in a row.
class ZKInflateCopy : public ZKInflate, public ZKTransfer {
 public:
  ZKInflateCopy();
  virtual ~ZKInflateCopy();

  // Runs one whole inflation: StartInflate, then chunks of at most 100 bytes
  // are inflated and each nonempty chunk is written with one
  // target->stWrite call, until `count` bytes were written (count 0 means
  // 0xFFFFFFFF, in practice the whole stream) or the inflation ended; then
  // EndInflate. Returns the number of bytes written. A damaged or truncated
  // stream ends the transfer quietly (see ReachedStreamEnd). If an
  // exception leaves the transfer, the object stays Inflating or Ended and
  // the next transfer raises -11 at its start.
  unsigned long stTransfer(ZKWrite* target, ZKRead* source,
                           unsigned long count) override;

  // Returns 0 and touches nothing.
  unsigned long stReserved(unsigned long a, unsigned long b,
                           unsigned long c) override;
};
