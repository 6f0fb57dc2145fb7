// Writing a picture as a PNG file: 8-bit RGB, no interlacing, every row
// with filter type 0, the image data in one zlib stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// An RGB picture: width * height pixels, rows top to bottom, three bytes
// per pixel in the order red, green, blue, no row padding.
struct RgbImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
};

// The PNG file for `image`: signature, IHDR, one IDAT, IEND, each chunk
// with its CRC. Empty when the image is empty, its pixel count does not
// match its size, or compression fails.
std::vector<uint8_t> EncodePng(const RgbImage& image);

// Writes EncodePng(image) to `path`; false when there is nothing to write
// or the file cannot be written completely.
bool WritePngFile(const std::string& path, const RgbImage& image);

}  // namespace kv
