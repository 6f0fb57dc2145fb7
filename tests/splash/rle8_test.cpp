// RLE8 expansion, one row per coded stream: the documented examples, then
// streams that break each bound the expansion keeps (the coded bytes, the
// scratch buffer of twice the image size, the memory behind the pixels).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "splash/dib.h"

namespace kv {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

std::string ToHex(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    if (i) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

struct Rle8Case {
  const char* what;
  const char* coded;     // the stream, all of it readable
  const char* trailing;  // bytes stored behind the stream that must not be read
  uint32_t size;         // the image size handed to the expansion
  const char* expected;  // the first `size` bytes afterwards; unwritten bytes are 0
};

const Rle8Case kRle8Cases[] = {
    // The documented examples.
    {"runs, end of line, absolute run", "04 07 00 00 00 04 01 02 03 04 00 01", "", 8,
     "07 07 07 07 01 02 03 04"},
    {"odd absolute run skips its pad byte", "00 03 0A 0B 0C 00 00 01", "", 4, "0A 0B 0C 00"},
    {"delta skips its offsets and moves nothing", "02 05 00 02 03 04 02 06 00 01", "", 4,
     "05 05 06 06"},
    {"end of line pads to a multiple of four", "03 01 00 00 03 02 00 01", "", 8,
     "01 01 01 00 02 02 02 00"},
    {"end of line on a boundary stays", "04 09 00 00 02 08 00 01", "", 8,
     "09 09 09 09 08 08 00 00"},
    {"image shorter than the output keeps its first bytes", "06 03 00 01", "", 4, "03 03 03 03"},
    // Streams that break a bound end with what was written.
    {"no end-of-bitmap code", "02 07 02 08", "", 4, "07 07 08 08"},
    {"empty stream", "", "", 4, "00 00 00 00"},
    {"pair cut by the end of the stream", "04 07 00", "", 8, "07 07 07 07 00 00 00 00"},
    {"stream ends before its end code, the rest is not read", "02 07", "02 08 00 01", 4,
     "07 07 00 00"},
    {"absolute run past the stream", "02 09 00 05 01 02", "03 04 05 00", 8,
     "09 09 00 00 00 00 00 00"},
    {"delta offsets past the stream", "01 03 00 02 05", "06 02 04 00 01", 4, "03 00 00 00"},
    {"pad byte of an odd absolute run past the stream", "00 03 0A 0B 0C", "01 02", 4,
     "0A 0B 0C 00"},
    {"run past the scratch buffer", "01 07 FF 08 00 01", "", 4, "07 00 00 00"},
    {"runs that fill the scratch buffer exactly", "04 05 04 06 01 07 00 01", "", 4, "05 05 05 05"},
    {"absolute run past the scratch buffer", "00 06 01 02 03 04 05 06 00 01", "", 2, "00 00"},
    {"end of line past the scratch buffer", "05 01 00 00 01 02 00 01", "", 3, "01 01 01"},
    {"empty image", "05 01 00 01", "", 0, ""},
};

class Rle8Expansion : public ::testing::TestWithParam<Rle8Case> {};

TEST_P(Rle8Expansion, WritesWhatTheStreamCodesWithinItsBounds) {
  const Rle8Case& c = GetParam();
  const std::vector<uint8_t> coded = FromHex(c.coded);
  const std::vector<uint8_t> trailing = FromHex(c.trailing);
  const std::vector<uint8_t> expected = FromHex(c.expected);
  ASSERT_EQ(expected.size(), c.size) << c.what;

  // The pixel memory holds the stream, the trailing bytes and room for the
  // image, then a guard that nothing may touch.
  const size_t room = std::max<size_t>(coded.size() + trailing.size(), c.size);
  std::vector<uint8_t> memory(room + 16, 0xCC);
  std::copy(coded.begin(), coded.end(), memory.begin());
  std::copy(trailing.begin(), trailing.end(), memory.begin() + coded.size());

  ASSERT_TRUE(ExpandRle8(memory.data(), coded.size(), c.size, room)) << c.what;

  EXPECT_EQ(ToHex(memory.data(), c.size), ToHex(expected.data(), expected.size()))
      << c.what << ": coded " << c.coded;
  for (size_t i = room; i < memory.size(); ++i)
    ASSERT_EQ(memory[i], 0xCC) << c.what << ": wrote past the pixel memory at " << i;
  EXPECT_TRUE(::HeapValidate(::GetProcessHeap(), 0, nullptr)) << c.what << ": heap damaged";
}

INSTANTIATE_TEST_SUITE_P(Streams, Rle8Expansion, ::testing::ValuesIn(kRle8Cases));

TEST(Rle8ExpansionBounds, CopiesBackNoMoreThanThePixelMemoryHolds) {
  // The image is 8 bytes but only 4 bytes lie behind the pixel address.
  const std::vector<uint8_t> coded = FromHex("08 07 00 01");
  std::vector<uint8_t> memory(coded.size() + 8, 0xCC);
  std::copy(coded.begin(), coded.end(), memory.begin());

  ASSERT_TRUE(ExpandRle8(memory.data(), coded.size(), 8, coded.size()));

  EXPECT_EQ(ToHex(memory.data(), memory.size()), "07 07 07 07 CC CC CC CC CC CC CC CC");
}

TEST(Rle8ExpansionBounds, WithoutScratchMemoryLeavesThePixelsAsTheyWere) {
  // Twice this size is more than a 32-bit process can allocate.
  std::vector<uint8_t> memory = FromHex("04 07 00 01");
  const std::vector<uint8_t> before = memory;

  EXPECT_FALSE(ExpandRle8(memory.data(), memory.size(), 0x70000000u, memory.size()));
  EXPECT_EQ(memory, before);
  EXPECT_FALSE(ExpandRle8(memory.data(), memory.size(), 0xFFFFFFFFu, memory.size()));
  EXPECT_EQ(memory, before);
}

// DecompressDib on a DIB in memory: an RLE8 header whose biSizeImage counts
// the coded bytes, as stored bitmaps have it.
TEST(DecompressDib, ExpandsRle8ToTheWholeImageAndMarksItUncompressed) {
  const std::vector<uint8_t> coded = FromHex("08 01 08 02 00 01");
  const size_t pixelOffset = sizeof(BITMAPINFOHEADER) + 4 * 4;
  std::vector<uint8_t> memory(pixelOffset + 16 + 8, 0xCC);
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = 8;
  header.biHeight = 2;
  header.biPlanes = 1;
  header.biBitCount = 8;
  header.biCompression = BI_RLE8;
  header.biSizeImage = static_cast<DWORD>(coded.size());
  header.biClrUsed = 4;
  std::memcpy(memory.data(), &header, sizeof header);
  std::copy(coded.begin(), coded.end(), memory.begin() + pixelOffset);
  auto* dib = reinterpret_cast<BITMAPINFOHEADER*>(memory.data());

  DecompressDib(dib, pixelOffset + coded.size(), pixelOffset + 16);

  EXPECT_EQ(dib->biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(dib->biSizeImage, 16u);
  EXPECT_EQ(ToHex(memory.data() + pixelOffset, 16 + 8),
            "01 01 01 01 01 01 01 01 02 02 02 02 02 02 02 02 CC CC CC CC CC CC CC CC");
}

TEST(DecompressDib, LeavesRle4AndBitfieldsAsStored) {
  for (DWORD compression : {DWORD{BI_RLE4}, DWORD{BI_BITFIELDS}, DWORD{BI_RGB}}) {
    std::vector<uint8_t> memory(sizeof(BITMAPINFOHEADER) + 12 + 16, 0x5A);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = 2;
    header.biHeight = 2;
    header.biPlanes = 1;
    header.biBitCount = compression == BI_RLE4 ? 4 : 32;
    header.biCompression = compression;
    header.biClrUsed = compression == BI_RLE4 ? 2 : 0;
    std::memcpy(memory.data(), &header, sizeof header);
    const std::vector<uint8_t> before = memory;

    DecompressDib(reinterpret_cast<BITMAPINFOHEADER*>(memory.data()), memory.size(), memory.size());

    EXPECT_EQ(memory, before) << "compression " << compression;
  }
}

}  // namespace
}  // namespace kv
