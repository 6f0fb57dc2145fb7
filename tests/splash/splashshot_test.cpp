// splashshot.exe as the demo runs it: its PNG files are read back chunk by
// chunk (CRCs checked, image data inflated) and compared with the picture
// and the place of the splash on the screen.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "splash/dib.h"
#include "tests/splash/pixels.h"
#include "tests/support/program_run.h"
#include "tests/support/scoped_folder.h"

namespace kv::test {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// A decoded 8-bit RGB PNG without filters other than type 0, as splashshot
// writes them; `error` says what was wrong otherwise.
struct Png {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
  std::string error;

  uint32_t Pixel(uint32_t x, uint32_t y) const {
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
  }
};

Png Failed(const std::string& why) {
  Png png;
  png.error = why;
  return png;
}

Png ReadPng(const std::string& path) {
  Png png;
  std::string file;
  if (!ReadWholeFile(path, &file)) return Failed("cannot read " + path);
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  if (file.compare(0, 8, "\x89PNG\r\n\x1A\n", 8) != 0) return Failed("no PNG signature");
  std::vector<uint8_t> packed;
  std::vector<std::string> order;
  uint8_t depth = 0, colourType = 0, interlace = 0;
  for (size_t at = 8; at < file.size();) {
    if (file.size() - at < 12) return Failed("chunk cut short");
    const uint32_t length = BigEndian32(bytes + at);
    if (length > file.size() - at - 12) return Failed("chunk longer than the file");
    const std::string type = file.substr(at + 4, 4);
    const uint8_t* data = bytes + at + 8;
    const uLong crc = ::crc32(0L, bytes + at + 4, length + 4);
    if (crc != BigEndian32(data + length)) return Failed("bad CRC in " + type);
    order.push_back(type);
    if (type == "IHDR" && length == 13) {
      png.width = BigEndian32(data);
      png.height = BigEndian32(data + 4);
      depth = data[8];
      colourType = data[9];
      interlace = data[12];
    } else if (type == "IDAT") {
      packed.insert(packed.end(), data, data + length);
    }
    at += 12 + length;
  }
  if (order.empty() || order.front() != "IHDR" || order.back() != "IEND")
    return Failed("chunks out of order");
  if (depth != 8 || colourType != 2 || interlace != 0) return Failed("not 8-bit RGB");
  const size_t rowBytes = static_cast<size_t>(png.width) * 3;
  std::vector<uint8_t> raw((rowBytes + 1) * png.height);
  uLongf rawSize = static_cast<uLongf>(raw.size());
  if (::uncompress(raw.data(), &rawSize, packed.data(), static_cast<uLong>(packed.size())) !=
          Z_OK ||
      rawSize != raw.size()) {
    return Failed("image data does not inflate to the image size");
  }
  for (uint32_t y = 0; y < png.height; ++y) {
    if (raw[y * (rowBytes + 1)] != 0) return Failed("row filter other than 0");
    png.rgb.insert(png.rgb.end(), raw.begin() + y * (rowBytes + 1) + 1,
                   raw.begin() + (y + 1) * (rowBytes + 1));
  }
  return png;
}

TEST(Splashshot, SavesTheSplashWithItsBorderAndTheScreenWithTheSplashCentred) {
  const std::string program = GetEnv("KV_SPLASHSHOT_EXE");
  ASSERT_FALSE(program.empty()) << "KV_SPLASHSHOT_EXE is not set";
  ScopedFolder folder;
  ProgramRun run;
  run.program = program;
  run.commandTail = "\"" + folder.path() + "splash.png\" \"" + folder.path() + "screen.png\"";
  ProgramResult result = RunProgram(run);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);

  // The picture, as splashshot.exe carries it.
  HMODULE module = ::LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  const BITMAPINFOHEADER* picture = LoadResourceDib(MAKEINTRESOURCEA(134), module);
  ASSERT_NE(picture, nullptr);

  const Png splash = ReadPng(folder.path() + "splash.png");
  ASSERT_EQ(splash.error, "");
  ASSERT_EQ(splash.width, 482u);
  ASSERT_EQ(splash.height, 352u);
  const Png screen = ReadPng(folder.path() + "screen.png");
  ASSERT_EQ(screen.error, "");
  ASSERT_EQ(screen.width, 1024u);
  ASSERT_EQ(screen.height, 768u);

  int differing = 0;
  int misplaced = 0;
  for (uint32_t y = 0; y < 352; ++y) {
    for (uint32_t x = 0; x < 482; ++x) {
      const bool border = x == 0 || y == 0 || x == 481 || y == 351;
      const uint32_t want = border ? splash.Pixel(0, 0) : DibPixel(picture, x - 1, y - 1);
      if (splash.Pixel(x, y) != want) ++differing;
      if (screen.Pixel(271 + x, 208 + y) != splash.Pixel(x, y)) ++misplaced;
    }
  }
  EXPECT_EQ(differing, 0) << "pixels of splash.png that are neither picture nor border";
  EXPECT_EQ(misplaced, 0) << "pixels of screen.png at 271,208 that differ from splash.png";
  EXPECT_NE(splash.Pixel(0, 0), splash.Pixel(1, 1));
  EXPECT_TRUE(folder.Remove());
  ::FreeLibrary(module);
}

}  // namespace
}  // namespace kv::test
