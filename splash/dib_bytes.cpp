#include "splash/dib_bytes.h"

#include <cstring>

namespace kv {
namespace {

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

void Put32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

void Put16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

bool IsValidBitCount(std::uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The pixel address without 32-bit wrap, for headers not yet checked.
std::uint64_t PixelOffset64(const DibHeader& header) {
  if (header.compression == kDibBitfields) return std::uint64_t{header.size} + 12u;
  return std::uint64_t{header.size} + 4u * std::uint64_t{header.clrUsed};
}

}  // namespace

DibHeader ReadDibHeader(const std::uint8_t* bytes) {
  DibHeader h;
  h.size = Get32(bytes + 0);
  h.width = static_cast<std::int32_t>(Get32(bytes + 4));
  h.height = static_cast<std::int32_t>(Get32(bytes + 8));
  h.planes = Get16(bytes + 12);
  h.bitCount = Get16(bytes + 14);
  h.compression = Get32(bytes + 16);
  h.sizeImage = Get32(bytes + 20);
  h.xPelsPerMeter = static_cast<std::int32_t>(Get32(bytes + 24));
  h.yPelsPerMeter = static_cast<std::int32_t>(Get32(bytes + 28));
  h.clrUsed = Get32(bytes + 32);
  h.clrImportant = Get32(bytes + 36);
  return h;
}

void WriteDibHeader(const DibHeader& h, std::uint8_t* bytes) {
  Put32(bytes + 0, h.size);
  Put32(bytes + 4, static_cast<std::uint32_t>(h.width));
  Put32(bytes + 8, static_cast<std::uint32_t>(h.height));
  Put16(bytes + 12, h.planes);
  Put16(bytes + 14, h.bitCount);
  Put32(bytes + 16, h.compression);
  Put32(bytes + 20, h.sizeImage);
  Put32(bytes + 24, static_cast<std::uint32_t>(h.xPelsPerMeter));
  Put32(bytes + 28, static_cast<std::uint32_t>(h.yPelsPerMeter));
  Put32(bytes + 32, h.clrUsed);
  Put32(bytes + 36, h.clrImportant);
}

std::uint32_t DibRowBytes(std::int32_t width, std::uint16_t bits) {
  return ((static_cast<std::uint32_t>(width) * bits + 31u) & ~31u) / 8u;
}

std::uint32_t DibImageSize(const DibHeader& header) {
  const std::uint32_t height = header.height < 0 ? 0u - static_cast<std::uint32_t>(header.height)
                                                 : static_cast<std::uint32_t>(header.height);
  return DibRowBytes(header.width, header.bitCount) * height;
}

std::uint32_t DibPixelOffset(const DibHeader& header) {
  if (header.compression == kDibBitfields) return header.size + 12u;
  return header.size + 4u * header.clrUsed;
}

bool CompleteDibHeader(std::uint8_t* bytes, std::size_t stored, std::size_t* capacity) {
  if (stored < kDibHeaderBytes) return false;
  DibHeader h = ReadDibHeader(bytes);
  if (h.size < kDibHeaderBytes || h.size > stored || h.width <= 0 || h.width > 0x7FFF ||
      h.height == 0 || h.height > 0x7FFF || h.height < -0x7FFF || !IsValidBitCount(h.bitCount) ||
      h.clrUsed > 256) {
    return false;
  }
  if (h.clrUsed == 0 && h.bitCount <= 8) h.clrUsed = 1u << h.bitCount;
  // 32767 rows of 131068 bytes (32767 pixels of 32 bits) still fit 32 bits.
  if (h.sizeImage == 0) h.sizeImage = DibImageSize(h);

  const std::uint64_t pixelOffset = DibPixelOffset(h);
  if (pixelOffset > stored) return false;
  // The palette is made from biClrUsed entries at biSize, also where the
  // pixel rule looks past them (BI_BITFIELDS): they must be stored too.
  if (std::uint64_t{h.size} + 4u * h.clrUsed > stored) return false;
  // Pixels painted as they are stored must all be stored.
  const std::uint64_t imageEnd = pixelOffset + DibImageSize(h);
  if ((h.compression == kDibRgb || h.compression == kDibBitfields) && imageEnd > stored) {
    return false;
  }
  // Room for the header, the colour table and the larger of the stored
  // pixels and the expanded image, so RLE8 can be expanded in place.
  const std::uint64_t needed = imageEnd > stored ? imageEnd : std::uint64_t{stored};
  if (needed > kMaxDibBytes) return false;

  WriteDibHeader(h, bytes);
  *capacity = static_cast<std::size_t>(needed);
  return true;
}

bool PlanRle8Expansion(const std::uint8_t* dib, std::size_t stored, std::size_t capacity,
                       Rle8Expansion* plan) {
  const DibHeader h = ReadDibHeader(dib);
  const std::uint64_t pixelOffset = PixelOffset64(h);
  if (pixelOffset > capacity || stored > capacity) return false;
  if (h.compression != kDibRle8) return false;
  plan->pixelOffset = static_cast<std::uint32_t>(pixelOffset);
  plan->room = capacity - static_cast<std::size_t>(pixelOffset);
  plan->codedBytes = stored > pixelOffset ? stored - static_cast<std::size_t>(pixelOffset) : 0;
  // A stored RLE8 bitmap's biSizeImage counts its coded bytes, as a rule
  // fewer than the rows take once expanded: the expansion fills at least the
  // whole image, and never more than the memory behind the pixels holds.
  const std::uint32_t image = DibImageSize(h);
  std::uint32_t size = h.sizeImage > image ? h.sizeImage : image;
  if (size > plan->room) size = static_cast<std::uint32_t>(plan->room);
  plan->size = size;
  return true;
}

void MarkRle8Expanded(std::uint8_t* dib, std::uint32_t size) {
  DibHeader h = ReadDibHeader(dib);
  h.compression = kDibRgb;
  if (h.sizeImage != 0) h.sizeImage = size;
  WriteDibHeader(h, dib);
}

std::size_t Rle8ScratchBytes(std::uint32_t size) {
  if (size > kMaxDibBytes) return 0;
  return 2u * static_cast<std::size_t>(size);
}

void ExpandRle8Bytes(const std::uint8_t* coded, std::size_t codedBytes, std::uint8_t* scratch,
                     std::size_t scratchSize, std::uint8_t* out, std::uint32_t size,
                     std::size_t room) {
  std::size_t copyBack = size < room ? size : room;
  if (copyBack > scratchSize) copyBack = scratchSize;
  // Row padding, short rows and deltas leave bytes unwritten: they read 0.
  std::memset(scratch, 0, copyBack);

  std::size_t in = 0;
  std::size_t pos = 0;
  // Every bound the coded stream could break ends the expansion with what
  // was written: reading past the coded bytes, writing past the scratch
  // buffer. Nothing but a complete end-of-bitmap code is required.
  while (in + 2 <= codedBytes) {
    const std::uint8_t first = coded[in];
    const std::uint8_t second = coded[in + 1];
    in += 2;
    if (first != 0) {
      if (pos + first > scratchSize) break;
      std::memset(scratch + pos, second, first);
      pos += first;
    } else if (second == 0) {
      pos = (pos + 3) & ~static_cast<std::size_t>(3);  // end of line: next 4-byte boundary
      if (pos > scratchSize) break;
    } else if (second == 1) {
      break;  // end of bitmap
    } else if (second == 2) {
      in += 2;  // delta: its offsets are skipped, the position does not move
    } else {
      const std::size_t count = second;
      if (in + count > codedBytes || pos + count > scratchSize) break;
      std::memcpy(scratch + pos, coded + in, count);
      pos += count;
      in += count + (count & 1);  // absolute runs are padded to 16 bits
    }
  }
  std::memcpy(out, scratch, copyBack);
}

bool DibPaintsStoredRows(const DibHeader& header) {
  if (header.compression == kDibRgb) return true;
  return header.compression == kDibBitfields && header.size == kDibHeaderBytes &&
         (header.bitCount == 16 || header.bitCount == 32);
}

}  // namespace kv
