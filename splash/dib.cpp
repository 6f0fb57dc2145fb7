#include "splash/dib.h"

#include <cstring>

#include "platform/scoped_handle.h"

namespace kv {
namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiBitfields = 3;

// Largest DIB the routines take on, in bytes: twice it (the RLE8 scratch
// buffer) still fits a 32-bit size.
constexpr uint32_t kMaxDibBytes = 0x40000000;

bool IsValidBitCount(uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

uint32_t ImageSize(const BITMAPINFOHEADER* dib) {
  uint32_t height = dib->biHeight < 0 ? 0u - static_cast<uint32_t>(dib->biHeight)
                                      : static_cast<uint32_t>(dib->biHeight);
  return DibRowBytes(dib->biWidth, dib->biBitCount) * height;
}

}  // namespace

uint32_t DibRowBytes(int32_t width, uint16_t bits) {
  return ((static_cast<uint32_t>(width) * bits + 31u) & ~31u) / 8u;
}

uint32_t DibPixelOffset(const BITMAPINFOHEADER* dib) {
  if (dib->biCompression == kBiBitfields) return dib->biSize + 12u;
  return dib->biSize + 4u * dib->biClrUsed;
}

BITMAPINFOHEADER* LoadResourceDib(const char* name, HINSTANCE module) {
  HRSRC found = ::FindResourceA(module, name, MAKEINTRESOURCEA(2) /* RT_BITMAP */);
  if (!found) return nullptr;
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  DWORD resourceSize = ::SizeofResource(module, found);
  if (!data || resourceSize < sizeof(BITMAPINFOHEADER)) return nullptr;

  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > resourceSize ||
      header.biWidth <= 0 || header.biWidth > 0x7FFF || header.biHeight == 0 ||
      header.biHeight > 0x7FFF || header.biHeight < -0x7FFF ||
      !IsValidBitCount(header.biBitCount) || header.biClrUsed > 256) {
    return nullptr;
  }
  if (header.biClrUsed == 0 && header.biBitCount <= 8) header.biClrUsed = 1u << header.biBitCount;
  if (header.biSizeImage == 0) header.biSizeImage = ImageSize(&header);

  const uint32_t pixelOffset = DibPixelOffset(&header);
  if (pixelOffset > resourceSize) return nullptr;
  // Pixels painted as they are stored must all lie inside the resource.
  const uint64_t imageEnd = static_cast<uint64_t>(pixelOffset) + ImageSize(&header);
  if ((header.biCompression == kBiRgb || header.biCompression == kBiBitfields) &&
      imageEnd > resourceSize) {
    return nullptr;
  }
  // The copy has room for the header, the colour table and the larger of the
  // stored pixels and the expanded image, so RLE8 can be expanded in place.
  const uint64_t capacity = imageEnd > resourceSize ? imageEnd : resourceSize;
  if (capacity > kMaxDibBytes) return nullptr;

  // Resource memory is read-only: completion and expansion work on a copy
  // that is never freed, like the resource it stands for. It comes from
  // VirtualAlloc (zero-filled) rather than a heap, so that no global memory
  // handle leads to it and FreeDib leaves it alone.
  auto* copy = static_cast<uint8_t*>(::VirtualAlloc(nullptr, static_cast<SIZE_T>(capacity),
                                                    MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!copy) return nullptr;
  std::memcpy(copy, data, resourceSize);
  std::memcpy(copy, &header, sizeof header);
  auto* dib = reinterpret_cast<BITMAPINFOHEADER*>(copy);
  DecompressDib(dib, resourceSize, static_cast<size_t>(capacity));
  return dib;
}

void DecompressDib(BITMAPINFOHEADER* dib, size_t stored, size_t capacity) {
  uint32_t pixelOffset = DibPixelOffset(dib);
  if (pixelOffset > capacity || stored > capacity) return;
  if (dib->biCompression != kBiRle8) return;
  uint8_t* pixels = reinterpret_cast<uint8_t*>(dib) + pixelOffset;
  const size_t room = capacity - pixelOffset;
  const size_t coded = stored > pixelOffset ? stored - pixelOffset : 0;
  // A stored RLE8 bitmap's biSizeImage counts its coded bytes, as a rule
  // fewer than the rows take once expanded: the expansion fills at least the
  // whole image, and never more than the memory behind the pixels holds.
  uint32_t size = dib->biSizeImage > ImageSize(dib) ? dib->biSizeImage : ImageSize(dib);
  if (size > room) size = static_cast<uint32_t>(room);
  if (!ExpandRle8(pixels, coded, size, room)) return;  // stays coded: not painted
  dib->biCompression = kBiRgb;
  if (dib->biSizeImage != 0) dib->biSizeImage = size;
}

bool ExpandRle8(uint8_t* pixels, size_t codedBytes, uint32_t size, size_t room) {
  if (size > kMaxDibBytes) return false;  // no scratch buffer of twice that size
  const size_t scratchSize = 2u * static_cast<size_t>(size);
  ScopedGlobal scratch(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, scratchSize ? scratchSize : 1));
  if (!scratch.IsValid()) return false;
  auto* out = static_cast<uint8_t*>(::GlobalLock(scratch.Get()));
  if (!out) return false;

  size_t in = 0;
  size_t pos = 0;
  // Every bound the coded stream could break ends the expansion with what
  // was written: reading past the coded bytes, writing past the scratch
  // buffer. Nothing but a complete end-of-bitmap code is required.
  while (in + 2 <= codedBytes) {
    const uint8_t first = pixels[in];
    const uint8_t second = pixels[in + 1];
    in += 2;
    if (first != 0) {
      if (pos + first > scratchSize) break;
      std::memset(out + pos, second, first);
      pos += first;
    } else if (second == 0) {
      pos = (pos + 3) & ~static_cast<size_t>(3);  // end of line: next 4-byte boundary
      if (pos > scratchSize) break;
    } else if (second == 1) {
      break;  // end of bitmap
    } else if (second == 2) {
      in += 2;  // delta: its offsets are skipped, the position does not move
    } else {
      const size_t count = second;
      if (in + count > codedBytes || pos + count > scratchSize) break;
      std::memcpy(out + pos, pixels + in, count);
      pos += count;
      in += count + (count & 1);  // absolute runs are padded to 16 bits
    }
  }
  size_t copyBack = size < room ? size : room;
  std::memcpy(pixels, out, copyBack);
  ::GlobalUnlock(scratch.Get());
  return true;
}

HPALETTE CreateDibPalette(const BITMAPINFOHEADER* dib) {
  const bool fromTable = dib->biClrUsed != 0;
  const uint32_t count = fromTable ? (dib->biClrUsed & 0xFFFFu) : 256u;
  const size_t bytes = sizeof(LOGPALETTE) + (count ? count - 1 : 0) * sizeof(PALETTEENTRY);
  ScopedLocal memory(::LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, bytes));
  if (!memory.IsValid()) return nullptr;
  auto* palette = static_cast<LOGPALETTE*>(static_cast<void*>(memory.Get()));
  palette->palVersion = 0x300;
  palette->palNumEntries = static_cast<WORD>(count);
  if (fromTable) {
    const auto* table = reinterpret_cast<const RGBQUAD*>(
        reinterpret_cast<const uint8_t*>(dib) + dib->biSize);
    for (uint32_t i = 0; i < count; ++i) {
      palette->palPalEntry[i].peRed = table[i].rgbRed;
      palette->palPalEntry[i].peGreen = table[i].rgbGreen;
      palette->palPalEntry[i].peBlue = table[i].rgbBlue;
      palette->palPalEntry[i].peFlags = 0;
    }
  } else {
    // The stock palette has fewer than 256 entries; the rest stay black
    // with flags 0 (the block was zeroed).
    auto stock = static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE));
    ::GetPaletteEntries(stock, 0, 256, palette->palPalEntry);
  }
  return ::CreatePalette(palette);
}

int PaintDib(const BITMAPINFOHEADER* dib, HDC context, int x, int y) {
  if (!dib) return 0;
  // Coded pixels (RLE8 not expanded, RLE4) are never painted as rows. Bit
  // masks follow the header only in the 40-byte form (in the longer forms
  // they are inside the header, where the pixel rule does not look), and
  // only pixels of 16 or 32 bits have them.
  const bool maskedPixels = dib->biCompression == kBiBitfields &&
                            dib->biSize == sizeof(BITMAPINFOHEADER) &&
                            (dib->biBitCount == 16 || dib->biBitCount == 32);
  if (dib->biCompression != kBiRgb && !maskedPixels) return 0;
  const uint8_t* pixels = reinterpret_cast<const uint8_t*>(dib) + DibPixelOffset(dib);
  const int height = dib->biHeight < 0 ? -dib->biHeight : dib->biHeight;
  return ::StretchDIBits(context, x, y, dib->biWidth, height, 0, 0, dib->biWidth, height,
                         pixels, reinterpret_cast<const BITMAPINFO*>(dib), DIB_RGB_COLORS,
                         SRCCOPY);
}

void FreeDib(const void* dib) {
  if (!dib) return;
  HGLOBAL block = ::GlobalHandle(dib);
  if (!block) return;
  ::GlobalUnlock(block);
  ::GlobalFree(::GlobalHandle(dib));
}

}  // namespace kv
