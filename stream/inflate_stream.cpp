#include "stream/inflate_stream.h"

#include <cstring>
#include <new>

#include "stream/stream_exception.h"

namespace {

[[noreturn]] void RaiseZlib(int code) {
  ZkStreamException::Raise(code, ZK_ZLIB_ERROR_TEXT);
}

}  // namespace

ZKInflate::ZKInflate(unsigned long bufferSize)
    : input_(nullptr),
      inputSize_(bufferSize),
      state_(Idle),
      reachedEnd_(false),
      totalOut_(0) {
  // Null allocation callbacks and opaque pointer: zlib's default allocator.
  std::memset(&stream_, 0, sizeof(stream_));
  input_ = new (std::nothrow) unsigned char[bufferSize];
  if (input_ == nullptr) RaiseZlib(ZK_ERR_ZLIB_MEMORY);
}

ZKInflate::~ZKInflate() {
  // A transfer that an exception left early still holds zlib's state.
  if (state_ != Idle) inflateEnd(&stream_);
  delete[] input_;
}

void ZKInflate::StartInflate() {
  if (state_ != Idle) RaiseZlib(ZK_ERR_ZLIB_STATE);
  stream_.zalloc = nullptr;
  stream_.zfree = nullptr;
  stream_.opaque = nullptr;
  stream_.next_in = input_;
  stream_.avail_in = 0;
  // The library's own version text and record size: inflateInit_ refuses a
  // record laid out for another version.
  if (inflateInit_(&stream_, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) !=
      Z_OK) {
    RaiseZlib(ZK_ERR_ZLIB_INIT);
  }
  stream_.avail_in = 0;  // the first read refills
  reachedEnd_ = false;
  totalOut_ = 0;
  state_ = Inflating;
}

unsigned long ZKInflate::ReadInflated(void* buffer, unsigned long count,
                                      ZKRead* source) {
  if (state_ != Inflating && state_ != Ended) RaiseZlib(ZK_ERR_ZLIB_STATE);
  if (state_ == Ended) return 0;

  stream_.next_out = static_cast<Bytef*>(buffer);
  stream_.avail_out = static_cast<uInt>(count);
  int result;
  do {
    if (stream_.avail_in == 0) {
      stream_.next_in = input_;
      stream_.avail_in = static_cast<uInt>(source->stRead(input_, inputSize_));
    }
    result = inflate(&stream_, Z_NO_FLUSH);
  } while (stream_.avail_out != 0 && result == Z_OK);

  // The stream's end and every failure alike end the inflation quietly; an
  // empty refill makes zlib answer Z_BUF_ERROR, which ends it too.
  if (result != Z_OK) {
    state_ = Ended;
    reachedEnd_ = (result == Z_STREAM_END);
  }
  const unsigned long produced = count - stream_.avail_out;
  totalOut_ += produced;
  return produced;
}

void ZKInflate::EndInflate(ZKRead* /*source*/) {
  if (state_ != Inflating && state_ != Ended) RaiseZlib(ZK_ERR_ZLIB_STATE);
  const int result = inflateEnd(&stream_);
  // zlib has freed its state whatever it answered; the engine is Idle again
  // before a failure is reported, so the destructor does not release twice.
  state_ = Idle;
  stream_.avail_in = 0;
  if (result != Z_OK) RaiseZlib(ZK_ERR_ZLIB_END);
}

ZKInflateCopy::ZKInflateCopy() : ZKInflate(ZK_INFLATE_COPY_INPUT_SIZE) {}

ZKInflateCopy::~ZKInflateCopy() {}

unsigned long ZKInflateCopy::stTransfer(ZKWrite* target, ZKRead* source,
                                        unsigned long count) {
  unsigned char chunk[ZK_INFLATE_COPY_CHUNK_SIZE];
  if (count == 0) count = 0xFFFFFFFFul;
  unsigned long total = 0;
  StartInflate();
  unsigned long n;
  do {
    const unsigned long want =
        count < ZK_INFLATE_COPY_CHUNK_SIZE ? count : ZK_INFLATE_COPY_CHUNK_SIZE;
    n = ReadInflated(chunk, want, source);
    if (n > 0) {
      target->stWrite(chunk, n);
      total += n;
      count -= n;
    }
  } while (count != 0 && n != 0);
  EndInflate(source);
  return total;
}

unsigned long ZKInflateCopy::stReserved(unsigned long, unsigned long,
                                        unsigned long) {
  return 0;
}
