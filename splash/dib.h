// Packed device-independent bitmaps (a BITMAPINFOHEADER, its colour table and
// the pixel rows in one block, as bitmap resources store them): loading from
// the program's resources, RLE8 expansion, palette and painting.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "splash/dib_bytes.h"

namespace kv {

// DibRowBytes (bytes of one pixel row) and the other byte-level rules are in
// splash/dib_bytes.h.

// Offset of the pixels from the start of the DIB: biSize + 4 * biClrUsed, or
// biSize + 12 for BI_BITFIELDS (three colour masks instead of a table).
uint32_t DibPixelOffset(const BITMAPINFOHEADER* dib);

// Loads bitmap resource `name` of `module` into a private, writable copy
// that lives as long as the process (resource memory is read-only; the
// resource itself is never changed), and completes its header: biSizeImage
// 0 becomes the uncompressed image size, biClrUsed 0 becomes 2^bits for 8
// bits or less. RLE8 pixels are expanded (DecompressDib). The copy is in no
// global memory block, so FreeDib frees nothing of it. Returns null when the
// resource is missing, cannot be loaded, or its header does not describe a
// colour table and pixels that lie inside it (uncompressed and BI_BITFIELDS
// rows must all be stored; see CompleteDibHeader).
BITMAPINFOHEADER* LoadResourceDib(const char* name, HINSTANCE module);

// Completes a DIB in place. `stored` is how many bytes of it (header
// included) hold the bitmap as stored, `capacity` how many bytes its memory
// has. RLE8 pixels are expanded into the room behind the pixel address, the
// coded bytes being read only within `stored`: the expanded size is the
// larger of biSizeImage (which for a stored RLE8 bitmap counts coded bytes)
// and the uncompressed image size, cut to that room; a non-zero biSizeImage
// becomes that size and the DIB is marked BI_RGB. When the expansion cannot
// be done (no scratch memory) the DIB stays marked BI_RLE8, so that it is
// never painted from coded bytes. Other bitmaps (BI_RGB, BI_RLE4,
// BI_BITFIELDS) are left as they are.
void DecompressDib(BITMAPINFOHEADER* dib, size_t stored, size_t capacity);

// Expands the RLE8 stream at `pixels` (at most `codedBytes` bytes of it are
// read) into `size` bytes written back over `pixels`; `room` is how many
// bytes the memory at `pixels` holds (at least `size` bytes are written only
// when room allows). The expansion stops at the end-of-bitmap code, or with
// what was written when the stream would read past its bytes or write past
// `size`. Bytes the stream does not write are 0. Returns false, leaving the
// pixels unchanged, when no scratch memory (2 * size bytes) could be had;
// sizes over 1 GiB get none.
bool ExpandRle8(uint8_t* pixels, size_t codedBytes, uint32_t size, size_t room);

// A logical palette for the DIB: from its colour table when it has one, else
// a copy of the stock default palette widened to 256 entries (entries past
// the stock ones are black with flags 0). Null when memory or the palette
// cannot be had. The caller deletes it.
HPALETTE CreateDibPalette(const BITMAPINFOHEADER* dib);

// Paints the DIB unscaled with its top-left corner at (x, y). Returns the
// platform's count of scan lines painted; 0 for a null DIB and for one whose
// pixels are still coded (RLE8 not expanded, RLE4), which are not painted.
// BI_BITFIELDS pixels of 16 or 32 bits are painted through their masks when
// the masks follow a 40-byte header; other BI_BITFIELDS bitmaps are not
// painted.
int PaintDib(const BITMAPINFOHEADER* dib, HDC context, int x, int y);

// Frees a DIB held in a movable global memory block. Null, and DIBs not held
// in such a block (LoadResourceDib's), are ignored.
void FreeDib(const void* dib);

}  // namespace kv
