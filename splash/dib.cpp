#include "splash/dib.h"

#include <cstring>

#include "platform/scoped_handle.h"
#include "splash/dib_bytes.h"

namespace kv {
namespace {

DibHeader HeaderOf(const BITMAPINFOHEADER* dib) {
  return ReadDibHeader(reinterpret_cast<const uint8_t*>(dib));
}

}  // namespace

uint32_t DibPixelOffset(const BITMAPINFOHEADER* dib) { return DibPixelOffset(HeaderOf(dib)); }

BITMAPINFOHEADER* LoadResourceDib(const char* name, HINSTANCE module) {
  HRSRC found = ::FindResourceA(module, name, MAKEINTRESOURCEA(2) /* RT_BITMAP */);
  if (!found) return nullptr;
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  DWORD resourceSize = ::SizeofResource(module, found);
  if (!data || resourceSize < kDibHeaderBytes) return nullptr;

  // Resource memory is read-only: the header is completed in a copy first.
  uint8_t header[kDibHeaderBytes];
  std::memcpy(header, data, sizeof header);
  size_t capacity = 0;
  if (!CompleteDibHeader(header, resourceSize, &capacity)) return nullptr;

  // Completion and expansion work on a copy that is never freed, like the
  // resource it stands for. It comes from VirtualAlloc (zero-filled) rather
  // than a heap, so that no global memory handle leads to it and FreeDib
  // leaves it alone.
  auto* copy = static_cast<uint8_t*>(::VirtualAlloc(nullptr, static_cast<SIZE_T>(capacity),
                                                    MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!copy) return nullptr;
  std::memcpy(copy, data, resourceSize);
  std::memcpy(copy, header, sizeof header);
  auto* dib = reinterpret_cast<BITMAPINFOHEADER*>(copy);
  DecompressDib(dib, resourceSize, capacity);
  return dib;
}

void DecompressDib(BITMAPINFOHEADER* dib, size_t stored, size_t capacity) {
  auto* bytes = reinterpret_cast<uint8_t*>(dib);
  Rle8Expansion plan;
  if (!PlanRle8Expansion(bytes, stored, capacity, &plan)) return;
  if (!ExpandRle8(bytes + plan.pixelOffset, plan.codedBytes, plan.size, plan.room)) {
    return;  // stays coded: not painted
  }
  MarkRle8Expanded(bytes, plan.size);
}

bool ExpandRle8(uint8_t* pixels, size_t codedBytes, uint32_t size, size_t room) {
  if (size > kMaxDibBytes) return false;  // no scratch buffer of twice that size
  const size_t scratchSize = Rle8ScratchBytes(size);
  ScopedGlobal scratch(::GlobalAlloc(GMEM_MOVEABLE, scratchSize ? scratchSize : 1));
  if (!scratch.IsValid()) return false;
  auto* out = static_cast<uint8_t*>(::GlobalLock(scratch.Get()));
  if (!out) return false;
  ExpandRle8Bytes(pixels, codedBytes, out, scratchSize, pixels, size, room);
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
  if (!DibPaintsStoredRows(HeaderOf(dib))) return 0;  // coded pixels are never painted
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
