// Feeds arbitrary bytes to the byte-level bitmap rules. The first byte picks
// what the rest is:
//   even: a stored packed DIB. Its header is completed as the loader does it,
//         it is copied into memory of the capacity the completion asks for
//         (zero-filled, as the loader's copy is), RLE8 pixels are expanded as
//         DecompressDib does it, and then every byte that the palette and
//         painting read is read. Guard bytes behind the DIB and behind the
//         scratch buffer must stay untouched.
//   odd:  a raw RLE8 stream for ExpandRle8Bytes, after three bytes that give
//         the image size (16 bits) and how the room behind the pixels differs
//         from it; bit 1 of the first byte gives a scratch buffer shorter than
//         twice the size. Nothing outside what the expansion may write
//         changes.
// Every buffer is a heap block of exactly its size, so the address sanitizer
// sees the first byte past it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "splash/dib_bytes.h"

namespace {

constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0xA5;
// Largest DIB memory the harness sets up; larger ones are only completed.
constexpr std::size_t kMaxCapacity = 8u << 20;

[[noreturn]] void Fail(const char* what, unsigned long long a = 0, unsigned long long b = 0) {
  std::fprintf(stderr, "dib_fuzz: %s (%llu, %llu)\n", what, a, b);
  std::abort();
}

// A heap block of `size` bytes followed by kGuard guard bytes.
class Guarded {
 public:
  explicit Guarded(std::size_t size) : size_(size), bytes_(new std::uint8_t[size + kGuard]) {
    std::memset(bytes_.get() + size, kGuardByte, kGuard);
  }
  std::uint8_t* data() { return bytes_.get(); }
  void CheckGuard(const char* what) const {
    for (std::size_t i = 0; i < kGuard; ++i) {
      if (bytes_[size_ + i] != kGuardByte) Fail(what, size_, i);
    }
  }

 private:
  std::size_t size_;
  std::unique_ptr<std::uint8_t[]> bytes_;
};

// Reads bytes the way painting does, so that the sanitizer sees every one.
volatile std::uint8_t g_sink;
void Touch(const std::uint8_t* bytes, std::size_t count) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  g_sink = sum;
}

void FuzzStoredDib(const std::uint8_t* data, std::size_t stored) {
  std::uint8_t header[kv::kDibHeaderBytes] = {};
  std::memcpy(header, data, stored < sizeof header ? stored : sizeof header);
  std::uint8_t before[sizeof header];
  std::memcpy(before, header, sizeof header);
  std::size_t capacity = 0;
  if (!kv::CompleteDibHeader(header, stored, &capacity)) {
    if (std::memcmp(header, before, sizeof header) != 0) Fail("refused header was changed");
    return;
  }

  const kv::DibHeader h = kv::ReadDibHeader(header);
  if (capacity < stored || capacity > kv::kMaxDibBytes) Fail("capacity", capacity, stored);
  if (h.sizeImage == 0) Fail("biSizeImage left 0");
  if (h.bitCount <= 8 && h.clrUsed == 0) Fail("biClrUsed left 0", h.bitCount);
  const std::uint64_t pixelOffset = kv::DibPixelOffset(h);
  if (pixelOffset > stored) Fail("pixels past the stored bytes", pixelOffset, stored);
  if (capacity > kMaxCapacity) return;

  // The loader's copy: the stored bytes, the completed header, zeroes.
  Guarded dib(capacity);
  std::memset(dib.data(), 0, capacity);
  std::memcpy(dib.data(), data, stored);
  std::memcpy(dib.data(), header, sizeof header);

  // DecompressDib, with the scratch buffer from the heap.
  kv::Rle8Expansion plan;
  if (kv::PlanRle8Expansion(dib.data(), stored, capacity, &plan)) {
    if (h.compression != kv::kDibRle8) Fail("expansion planned for another compression");
    if (std::uint64_t{plan.pixelOffset} + plan.room != capacity) Fail("room", plan.room);
    if (plan.size > plan.room) Fail("size past the room", plan.size, plan.room);
    if (plan.pixelOffset + plan.codedBytes > stored) Fail("coded bytes", plan.codedBytes);
    const std::size_t scratchSize = kv::Rle8ScratchBytes(plan.size);
    Guarded scratch(scratchSize);
    std::uint8_t* pixels = dib.data() + plan.pixelOffset;
    kv::ExpandRle8Bytes(pixels, plan.codedBytes, scratch.data(), scratchSize, pixels, plan.size,
                        plan.room);
    scratch.CheckGuard("wrote past the scratch buffer");
    kv::MarkRle8Expanded(dib.data(), plan.size);
    if (kv::ReadDibHeader(dib.data()).compression != kv::kDibRgb) Fail("not marked BI_RGB");
  } else if (h.compression == kv::kDibRle8) {
    Fail("RLE8 DIB from the loader not expanded");
  }
  dib.CheckGuard("wrote past the DIB");

  // What the palette and painting read of the finished DIB.
  const kv::DibHeader done = kv::ReadDibHeader(dib.data());
  const std::uint64_t tableEnd = std::uint64_t{done.size} + 4u * (done.clrUsed & 0xFFFFu);
  if (tableEnd > capacity) Fail("colour table past the DIB", tableEnd, capacity);
  Touch(dib.data() + done.size, static_cast<std::size_t>(tableEnd - done.size));
  if (kv::DibPaintsStoredRows(done)) {
    const std::uint64_t offset = kv::DibPixelOffset(done);
    const std::uint64_t end = offset + kv::DibImageSize(done);
    if (end > capacity) Fail("painted rows past the DIB", end, capacity);
    Touch(dib.data() + offset, static_cast<std::size_t>(end - offset));
  }
}

void FuzzRle8Stream(std::uint8_t mode, const std::uint8_t* data, std::size_t size) {
  if (size < 3) return;
  const std::uint32_t imageSize = static_cast<std::uint32_t>(data[0] | data[1] << 8);
  const std::uint8_t roomCode = data[2];
  const std::size_t change = roomCode & 0x7F;
  const std::size_t room = (roomCode & 0x80) ? imageSize - (change < imageSize ? change : imageSize)
                                             : imageSize + change;
  const std::uint8_t* coded = data + 3;
  const std::size_t codedBytes = size - 3;

  // The pixel memory holds the coded stream and the room, as in a DIB.
  const std::size_t memorySize = codedBytes > room ? codedBytes : room;
  Guarded memory(memorySize);
  std::memset(memory.data(), 0x5A, memorySize);
  if (codedBytes != 0) std::memcpy(memory.data(), coded, codedBytes);
  std::vector<std::uint8_t> original(memory.data(), memory.data() + memorySize);

  std::size_t scratchSize = kv::Rle8ScratchBytes(imageSize);
  if (mode & 2) scratchSize /= 3;
  Guarded scratch(scratchSize);

  kv::ExpandRle8Bytes(memory.data(), codedBytes, scratch.data(), scratchSize, memory.data(),
                      imageSize, room);

  memory.CheckGuard("wrote past the pixel memory");
  scratch.CheckGuard("wrote past the scratch buffer");
  std::size_t written = imageSize < room ? imageSize : room;
  if (written > scratchSize) written = scratchSize;
  for (std::size_t i = written; i < memorySize; ++i) {
    if (memory.data()[i] != original[i]) Fail("wrote past min(size, room, scratch)", i, written);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  if (mode & 1) {
    FuzzRle8Stream(mode, data + 1, size - 1);
  } else {
    FuzzStoredDib(data + 1, size - 1);
  }
  return 0;
}
