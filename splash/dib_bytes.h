// The byte-level side of packed DIBs (a 40-byte BITMAPINFOHEADER, its colour
// table and the pixel rows in one block): row and image sizes, the pixel
// address, completing a header, and RLE8 expansion into caller-provided
// buffers. Portable (no Win32): the splash's bitmap routines call it, and the
// host fuzzer feeds it arbitrary bytes.
//
// Header layout, all fields little-endian:
//
//   offset  size  field
//   0       4     biSize           header size; the colour table starts here
//   4       4     biWidth (signed)
//   8       4     biHeight (signed; positive: rows stored bottom-up)
//   12      2     biPlanes
//   14      2     biBitCount       bits per pixel
//   16      4     biCompression    0 BI_RGB, 1 BI_RLE8, 2 BI_RLE4, 3 BI_BITFIELDS
//   20      4     biSizeImage      pixel bytes; 0 when left to be computed
//   24      4     biXPelsPerMeter
//   28      4     biYPelsPerMeter
//   32      4     biClrUsed        colour-table entries; 0 for the default
//   36      4     biClrImportant
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

inline constexpr std::size_t kDibHeaderBytes = 40;

inline constexpr std::uint32_t kDibRgb = 0;
inline constexpr std::uint32_t kDibRle8 = 1;
inline constexpr std::uint32_t kDibRle4 = 2;
inline constexpr std::uint32_t kDibBitfields = 3;

// Largest DIB the routines take on, in bytes: twice it (the RLE8 scratch
// buffer) still fits a 32-bit size.
inline constexpr std::uint32_t kMaxDibBytes = 0x40000000;

// The header fields, decoded.
struct DibHeader {
  std::uint32_t size = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t planes = 0;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = 0;
  std::uint32_t sizeImage = 0;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t clrUsed = 0;
  std::uint32_t clrImportant = 0;
};

// Decodes / encodes the kDibHeaderBytes bytes at `bytes`.
DibHeader ReadDibHeader(const std::uint8_t* bytes);
void WriteDibHeader(const DibHeader& header, std::uint8_t* bytes);

// Bytes of one pixel row: width * bits rounded up to a multiple of 32 bits,
// in 32-bit arithmetic. DibRowBytes(480, 24) == 1440.
std::uint32_t DibRowBytes(std::int32_t width, std::uint16_t bits);

// Bytes of the uncompressed rows: DibRowBytes * |height|, in 32-bit
// arithmetic (headers that CompleteDibHeader accepts never wrap it).
std::uint32_t DibImageSize(const DibHeader& header);

// Offset of the pixels from the start of the DIB: biSize + 4 * biClrUsed, or
// biSize + 12 for BI_BITFIELDS (three colour masks instead of a table), in
// 32-bit arithmetic.
std::uint32_t DibPixelOffset(const DibHeader& header);

// Checks the header of a packed DIB that is stored in `stored` bytes and
// completes it in place: biClrUsed 0 becomes 2^bits for 8 bits or less,
// biSizeImage 0 becomes DibImageSize. `header` holds kDibHeaderBytes bytes:
// the DIB's own first bytes or a copy of them. Returns false, leaving the
// header unchanged, unless biSize is at least 40 and within `stored`, the
// width is 1..32767, the height is non-zero and within +-32767, the bit count
// is 1, 4, 8, 16, 24 or 32, biClrUsed is at most 256, the pixel address and
// the biClrUsed colour-table entries at biSize (which the palette reads, also
// for BI_BITFIELDS) lie within `stored`, and, for BI_RGB and BI_BITFIELDS,
// all rows are stored. On
// success *capacity is the memory the completed DIB needs: the larger of
// `stored` and the end of the uncompressed rows (room to expand RLE8 in
// place), at most kMaxDibBytes.
bool CompleteDibHeader(std::uint8_t* header, std::size_t stored, std::size_t* capacity);

// Where and how far the RLE8 pixels of a DIB expand.
struct Rle8Expansion {
  std::uint32_t pixelOffset = 0;  // pixel address from the start of the DIB
  std::size_t codedBytes = 0;     // coded bytes stored behind it
  std::uint32_t size = 0;         // bytes the expansion produces
  std::size_t room = 0;           // bytes the memory holds behind the address
};

// Decides the expansion of an RLE8 DIB whose first `stored` bytes hold the
// bitmap as stored, in memory of `capacity` bytes: the expanded size is the
// larger of biSizeImage (which for a stored RLE8 bitmap counts coded bytes)
// and DibImageSize, cut to the room behind the pixel address. Returns false
// for a DIB that is not RLE8, or whose pixel address (taken without 32-bit
// wrap) or stored bytes lie past `capacity`. Reads only the header.
bool PlanRle8Expansion(const std::uint8_t* dib, std::size_t stored, std::size_t capacity,
                       Rle8Expansion* plan);

// Marks a DIB whose RLE8 pixels were expanded to `size` bytes: BI_RGB, and a
// non-zero biSizeImage becomes `size`.
void MarkRle8Expanded(std::uint8_t* dib, std::uint32_t size);

// Bytes of the scratch buffer that expanding to `size` bytes takes (twice
// the size), or 0 when the size is over kMaxDibBytes.
std::size_t Rle8ScratchBytes(std::uint32_t size);

// Expands the RLE8 stream at `coded` (at most `codedBytes` bytes of it are
// read) through `scratch` (scratchSize bytes; it must overlap neither `coded`
// nor `out`) and then writes the first min(size, room, scratchSize) expanded
// bytes to `out`. `out` may be `coded` itself: it is written only after the
// stream has been read. The expansion stops at the end-of-bitmap code, or
// with what was written when the stream would read past its bytes or write
// past the scratch buffer. Bytes of the image that the stream does not write
// are 0. Codes: a pair (n, v) with n > 0 writes v n times; (0, 0) moves the
// output to the next multiple of 4 bytes; (0, 1) ends; (0, 2) skips the next
// two bytes and moves nothing; (0, n >= 3) copies the next n bytes, and one
// pad byte more when n is odd.
void ExpandRle8Bytes(const std::uint8_t* coded, std::size_t codedBytes, std::uint8_t* scratch,
                     std::size_t scratchSize, std::uint8_t* out, std::uint32_t size,
                     std::size_t room);

// True when the DIB's pixels are painted as stored rows: BI_RGB, and
// BI_BITFIELDS of 16 or 32 bits whose masks follow a 40-byte header (in the
// longer header forms they are inside the header, where the pixel rule does
// not look). Coded pixels (RLE8 not expanded, RLE4) are never painted.
bool DibPaintsStoredRows(const DibHeader& header);

}  // namespace kv
