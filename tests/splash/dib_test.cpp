// The bitmap routines on crafted bitmap resources of this executable
// (test_bitmaps.rc): row size, header completion, the private copy, RLE8
// and the compressions that are not expanded, palettes, painting, release.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "splash/dib.h"
#include "tests/splash/pixels.h"
#include "tests/splash/test_bitmaps.h"

namespace kv {
namespace {

using test::Canvas;
using test::ColourText;

HINSTANCE Self() { return ::GetModuleHandleA(nullptr); }

BITMAPINFOHEADER* Load(int id) { return LoadResourceDib(MAKEINTRESOURCEA(id), Self()); }

// The resource's own bytes, as the module stores them.
const uint8_t* StoredBytes(int id, DWORD* size) {
  HRSRC found = ::FindResourceA(Self(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(2));
  *size = found ? ::SizeofResource(Self(), found) : 0;
  return found ? static_cast<const uint8_t*>(::LockResource(::LoadResource(Self(), found)))
               : nullptr;
}

const uint8_t* Pixels(const BITMAPINFOHEADER* dib) {
  return reinterpret_cast<const uint8_t*>(dib) + DibPixelOffset(dib);
}

// --- Row size ---------------------------------------------------------------

struct RowCase {
  int32_t width;
  uint16_t bits;
  uint32_t bytes;
};

TEST(DibRowBytes, PadsEveryRowToAMultipleOfFourBytes) {
  const RowCase cases[] = {{480, 24, 1440}, {1, 1, 4},  {33, 1, 8},  {3, 8, 4},
                           {5, 8, 8},       {1, 32, 4}, {4, 8, 4},   {101, 8, 104},
                           {8, 4, 4},       {9, 4, 8},  {3, 24, 12}, {32, 1, 4}};
  for (const RowCase& c : cases) {
    EXPECT_EQ(DibRowBytes(c.width, c.bits), c.bytes) << c.width << " x " << c.bits << " bits";
  }
}

// --- Loading and header completion -------------------------------------------

struct CompletionCase {
  int id;
  const char* what;
  DWORD sizeImage;  // after loading
  DWORD colours;    // biClrUsed after loading
};

const CompletionCase kCompletionCases[] = {
    {TBMP_8BIT_100X10, "100 x 10, 8 bits", 1000, 256},
    {TBMP_8BIT_101X10, "101 x 10, 8 bits", 1040, 256},
    {TBMP_4BIT, "8 x 2, 4 bits", 8, 16},
    {TBMP_1BIT, "8 x 2, 1 bit", 8, 2},
    {TBMP_16BIT, "2 x 2, 16 bits", 8, 0},
    {TBMP_24BIT, "2 x 2, 24 bits", 16, 0},
    {TBMP_32BIT, "2 x 2, 32 bits", 16, 0},
    {TBMP_TABLE3, "2 x 1, 8 bits, 3 colours", 4, 3},
};

TEST(LoadResourceDib, CompletesSizeAndColourCountAndKeepsThePixels) {
  for (const CompletionCase& c : kCompletionCases) {
    SCOPED_TRACE(c.what);
    DWORD storedSize = 0;
    const uint8_t* stored = StoredBytes(c.id, &storedSize);
    ASSERT_NE(stored, nullptr);
    const BITMAPINFOHEADER* dib = Load(c.id);
    ASSERT_NE(dib, nullptr);

    EXPECT_EQ(dib->biSizeImage, c.sizeImage);
    EXPECT_EQ(dib->biClrUsed, c.colours);
    EXPECT_EQ(dib->biCompression, static_cast<DWORD>(BI_RGB));
    // Everything behind the two completed fields is as stored.
    EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(dib) + 36, stored + 36, storedSize - 36),
              0);
    EXPECT_EQ(std::memcmp(dib, stored, 20), 0);
  }
}

TEST(LoadResourceDib, CompletesAPrivateCopyAndLeavesTheResourceAsStored) {
  DWORD storedSize = 0;
  const uint8_t* stored = StoredBytes(TBMP_8BIT_101X10, &storedSize);
  ASSERT_NE(stored, nullptr);
  const std::vector<uint8_t> before(stored, stored + storedSize);

  const BITMAPINFOHEADER* first = Load(TBMP_8BIT_101X10);
  const BITMAPINFOHEADER* second = Load(TBMP_8BIT_101X10);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);

  EXPECT_NE(static_cast<const void*>(first), static_cast<const void*>(stored));
  EXPECT_EQ(std::vector<uint8_t>(stored, stored + storedSize), before)
      << "the resource's own memory was written";
  EXPECT_EQ(second->biSizeImage, 1040u);
  EXPECT_EQ(std::memcmp(first, second, storedSize), 0);
}

TEST(LoadResourceDib, ReturnsNullForMissingAndUnusableBitmaps) {
  EXPECT_EQ(Load(999), nullptr) << "no such resource";
  EXPECT_EQ(LoadResourceDib("NOSUCHBITMAP", Self()), nullptr);
  EXPECT_EQ(Load(TDLG_SPLASH), nullptr) << "a dialog of that number is no bitmap";
  EXPECT_EQ(Load(TBMP_24BIT_SHORT), nullptr) << "fewer pixel bytes than the rows take";
  EXPECT_EQ(Load(TBMP_BITFIELDS_SHORT), nullptr) << "fewer pixel bytes than the rows take";
  EXPECT_EQ(Load(TBMP_BAD_HEADER), nullptr) << "header larger than the resource";
}

TEST(LoadResourceDib, ExpandsStoredRle8ToTheWholeImage) {
  const BITMAPINFOHEADER* dib = Load(TBMP_RLE8);
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib->biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(dib->biSizeImage, 32u);
  const uint8_t expected[32] = {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,
                                0, 1, 2, 3, 0, 1, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3};
  EXPECT_EQ(std::memcmp(Pixels(dib), expected, sizeof expected), 0);
}

TEST(LoadResourceDib, Rle8ThatBreaksABoundKeepsWhatWasWrittenAndZeroes) {
  const BITMAPINFOHEADER* unterminated = Load(TBMP_RLE8_UNTERMINATED);
  ASSERT_NE(unterminated, nullptr);
  EXPECT_EQ(unterminated->biCompression, static_cast<DWORD>(BI_RGB));
  const uint8_t cut[16] = {5, 5, 5};
  EXPECT_EQ(std::memcmp(Pixels(unterminated), cut, sizeof cut), 0);

  const BITMAPINFOHEADER* longRun = Load(TBMP_RLE8_LONG_RUN);
  ASSERT_NE(longRun, nullptr);
  const uint8_t stopped[8] = {7, 7, 7, 7, 7, 7, 0, 0};
  EXPECT_EQ(std::memcmp(Pixels(longRun), stopped, sizeof stopped), 0);
}

TEST(LoadResourceDib, LeavesRle4AndBitfieldsMarkedAsStored) {
  const BITMAPINFOHEADER* rle4 = Load(TBMP_RLE4);
  ASSERT_NE(rle4, nullptr);
  EXPECT_EQ(rle4->biCompression, static_cast<DWORD>(BI_RLE4));
  const BITMAPINFOHEADER* fields = Load(TBMP_BITFIELDS);
  ASSERT_NE(fields, nullptr);
  EXPECT_EQ(fields->biCompression, static_cast<DWORD>(BI_BITFIELDS));
  EXPECT_EQ(DibPixelOffset(fields), 52u);
}

// --- Palettes ------------------------------------------------------------------

std::vector<PALETTEENTRY> Entries(HPALETTE palette) {
  const UINT count = ::GetPaletteEntries(palette, 0, 0, nullptr);
  std::vector<PALETTEENTRY> entries(count);
  if (count) ::GetPaletteEntries(palette, 0, count, entries.data());
  return entries;
}

TEST(CreateDibPalette, TakesTheColourTableInRedGreenBlueOrder) {
  const BITMAPINFOHEADER* dib = Load(TBMP_TABLE3);
  ASSERT_NE(dib, nullptr);
  ScopedGdiObject palette(CreateDibPalette(dib));
  ASSERT_TRUE(palette.IsValid());

  const std::vector<PALETTEENTRY> entries = Entries(static_cast<HPALETTE>(palette.Get()));
  ASSERT_EQ(entries.size(), 3u);
  const PALETTEENTRY expected[3] = {
      {0x30, 0x20, 0x10, 0}, {0x60, 0x50, 0x40, 0}, {0x90, 0x80, 0x70, 0}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(entries[i].peRed, expected[i].peRed) << "entry " << i;
    EXPECT_EQ(entries[i].peGreen, expected[i].peGreen) << "entry " << i;
    EXPECT_EQ(entries[i].peBlue, expected[i].peBlue) << "entry " << i;
    EXPECT_EQ(entries[i].peFlags, 0) << "entry " << i;
  }
}

TEST(CreateDibPalette, WithoutAColourTableCopiesTheStockPaletteAndBlacksTheRest) {
  const BITMAPINFOHEADER* dib = Load(TBMP_24BIT);
  ASSERT_NE(dib, nullptr);
  ScopedGdiObject palette(CreateDibPalette(dib));
  ASSERT_TRUE(palette.IsValid());

  const std::vector<PALETTEENTRY> stock =
      Entries(static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE)));
  ASSERT_FALSE(stock.empty());
  ASSERT_LT(stock.size(), 256u);
  const std::vector<PALETTEENTRY> entries = Entries(static_cast<HPALETTE>(palette.Get()));
  ASSERT_EQ(entries.size(), 256u);
  for (size_t i = 0; i < entries.size(); ++i) {
    const PALETTEENTRY want = i < stock.size() ? stock[i] : PALETTEENTRY{0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&entries[i], &want, sizeof want), 0) << "entry " << i;
  }
}

// --- Painting -----------------------------------------------------------------

constexpr uint32_t kBackground = 0x5A5A5A;

TEST(PaintDib, NullPaintsNothingAndYieldsZero) {
  Canvas canvas(4, 4, kBackground);
  EXPECT_EQ(PaintDib(nullptr, canvas.context(), 0, 0), 0);
  EXPECT_TRUE(canvas.AllPixelsAre(kBackground));
}

TEST(PaintDib, PaintsThroughTheColourTableAtTheGivenPoint) {
  const BITMAPINFOHEADER* dib = Load(TBMP_TABLE3);
  ASSERT_NE(dib, nullptr);
  Canvas canvas(4, 3, kBackground);

  EXPECT_EQ(PaintDib(dib, canvas.context(), 1, 1), 1);

  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      uint32_t want = kBackground;
      if (y == 1 && x == 1) want = 0x302010;
      if (y == 1 && x == 2) want = 0x605040;
      EXPECT_EQ(ColourText(canvas.Pixel(x, y)), ColourText(want)) << "at " << x << "," << y;
    }
  }
}

TEST(PaintDib, PaintsExpandedRle8RowsBottomUp) {
  const BITMAPINFOHEADER* dib = Load(TBMP_RLE8);
  ASSERT_NE(dib, nullptr);
  Canvas canvas(8, 4, kBackground);

  EXPECT_EQ(PaintDib(dib, canvas.context(), 0, 0), 4);

  const uint32_t colours[4] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  const uint8_t rowsFromTop[4][8] = {{3, 3, 3, 3, 3, 3, 3, 3},
                                     {0, 1, 2, 3, 0, 1, 2, 3},
                                     {2, 2, 2, 2, 2, 2, 2, 2},
                                     {1, 1, 1, 1, 1, 1, 1, 1}};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(ColourText(canvas.Pixel(x, y)), ColourText(colours[rowsFromTop[y][x]]))
          << "at " << x << "," << y;
    }
  }
}

TEST(PaintDib, PaintsBitfieldsThroughTheirMasks) {
  const BITMAPINFOHEADER* dib = Load(TBMP_BITFIELDS);
  ASSERT_NE(dib, nullptr);
  Canvas canvas(2, 2, kBackground);

  EXPECT_EQ(PaintDib(dib, canvas.context(), 0, 0), 2);

  // Red is the low byte of each stored pixel, blue the third.
  EXPECT_EQ(ColourText(canvas.Pixel(0, 1)), ColourText(0x112233));
  EXPECT_EQ(ColourText(canvas.Pixel(1, 1)), ColourText(0x445566));
  EXPECT_EQ(ColourText(canvas.Pixel(0, 0)), ColourText(0x778899));
  EXPECT_EQ(ColourText(canvas.Pixel(1, 0)), ColourText(0xAABBCC));
}

TEST(PaintDib, CodedPixelsAreNotPainted) {
  Canvas canvas(8, 4, kBackground);

  const BITMAPINFOHEADER* rle4 = Load(TBMP_RLE4);
  ASSERT_NE(rle4, nullptr);
  EXPECT_EQ(PaintDib(rle4, canvas.context(), 0, 0), 0);
  EXPECT_TRUE(canvas.AllPixelsAre(kBackground)) << "RLE4 bytes painted as rows";

  // An RLE8 bitmap that could not be expanded stays marked BI_RLE8.
  DWORD storedSize = 0;
  const uint8_t* stored = StoredBytes(TBMP_RLE8, &storedSize);
  ASSERT_NE(stored, nullptr);
  std::vector<uint8_t> coded(stored, stored + storedSize);
  EXPECT_EQ(PaintDib(reinterpret_cast<BITMAPINFOHEADER*>(coded.data()), canvas.context(), 0, 0), 0);
  EXPECT_TRUE(canvas.AllPixelsAre(kBackground)) << "RLE8 bytes painted as rows";

  // Bit masks inside a longer header are not where the pixel rule looks.
  const BITMAPINFOHEADER* fields = Load(TBMP_BITFIELDS);
  ASSERT_NE(fields, nullptr);
  std::vector<uint8_t> longer(reinterpret_cast<const uint8_t*>(fields),
                              reinterpret_cast<const uint8_t*>(fields) + 68);
  reinterpret_cast<BITMAPINFOHEADER*>(longer.data())->biSize = 52;
  longer.resize(52 + 12 + 16);
  EXPECT_EQ(PaintDib(reinterpret_cast<BITMAPINFOHEADER*>(longer.data()), canvas.context(), 0, 0),
            0);
  EXPECT_TRUE(canvas.AllPixelsAre(kBackground));

  // Masks belong to pixels of 16 or 32 bits only.
  std::vector<uint8_t> masked24(reinterpret_cast<const uint8_t*>(fields),
                                reinterpret_cast<const uint8_t*>(fields) + 68);
  reinterpret_cast<BITMAPINFOHEADER*>(masked24.data())->biBitCount = 24;
  EXPECT_EQ(PaintDib(reinterpret_cast<BITMAPINFOHEADER*>(masked24.data()), canvas.context(), 0, 0),
            0);
  EXPECT_TRUE(canvas.AllPixelsAre(kBackground));
}

// --- Release ------------------------------------------------------------------

TEST(FreeDib, NullIsIgnored) { FreeDib(nullptr); }

TEST(FreeDib, FreesTheMovableGlobalBlockThatHoldsTheDib) {
  DWORD storedSize = 0;
  const uint8_t* stored = StoredBytes(TBMP_24BIT, &storedSize);
  ASSERT_NE(stored, nullptr);
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, storedSize);
  ASSERT_NE(block, nullptr);
  void* dib = ::GlobalLock(block);
  ASSERT_NE(dib, nullptr);
  std::memcpy(dib, stored, storedSize);
  ASSERT_EQ(::GlobalSize(block), storedSize);

  FreeDib(dib);

  ::SetLastError(0);
  EXPECT_EQ(::GlobalSize(block), 0u) << "the block still exists";
  EXPECT_EQ(::GlobalFlags(block), static_cast<UINT>(GMEM_INVALID_HANDLE));
}

TEST(FreeDib, LeavesALoadedDibInPlace) {
  const BITMAPINFOHEADER* dib = Load(TBMP_TABLE3);
  ASSERT_NE(dib, nullptr);
  const std::vector<uint8_t> before(reinterpret_cast<const uint8_t*>(dib),
                                    reinterpret_cast<const uint8_t*>(dib) + 56);

  FreeDib(dib);

  EXPECT_EQ(::GlobalHandle(dib), nullptr) << "a global block holds the loaded DIB";
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_NE(::VirtualQuery(dib, &info, sizeof info), 0u);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(dib),
                                 reinterpret_cast<const uint8_t*>(dib) + 56),
            before);
  EXPECT_TRUE(::HeapValidate(::GetProcessHeap(), 0, nullptr));
}

}  // namespace
}  // namespace kv
