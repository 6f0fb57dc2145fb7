#include "tools/splashshot/png_writer.h"

#include <zlib.h>

#include <cstdio>

namespace kv {
namespace {

void PutBigEndian32(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value >> 24));
  out->push_back(static_cast<uint8_t>(value >> 16));
  out->push_back(static_cast<uint8_t>(value >> 8));
  out->push_back(static_cast<uint8_t>(value));
}

// Length, type, data and the CRC over type and data.
void PutChunk(std::vector<uint8_t>* out, const char type[5], const std::vector<uint8_t>& data) {
  PutBigEndian32(out, static_cast<uint32_t>(data.size()));
  const size_t typeAt = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  const uLong crc = ::crc32(0L, out->data() + typeAt, static_cast<uInt>(4 + data.size()));
  PutBigEndian32(out, static_cast<uint32_t>(crc));
}

}  // namespace

std::vector<uint8_t> EncodePng(const RgbImage& image) {
  const uint64_t rowBytes = static_cast<uint64_t>(image.width) * 3;
  if (image.width == 0 || image.height == 0 || image.width > 0x7FFFFFFF ||
      image.height > 0x7FFFFFFF || image.pixels.size() != rowBytes * image.height ||
      (rowBytes + 1) * image.height > 0x7FFFFFFF) {
    return {};
  }

  // Each row is preceded by its filter type, 0 (the bytes as they are).
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>((rowBytes + 1) * image.height));
  for (uint32_t y = 0; y < image.height; ++y) {
    raw.push_back(0);
    const auto row = image.pixels.begin() + static_cast<std::ptrdiff_t>(rowBytes * y);
    raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
  }
  uLongf packedSize = ::compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  if (::compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
    return {};
  }
  packed.resize(packedSize);

  std::vector<uint8_t> header;
  PutBigEndian32(&header, image.width);
  PutBigEndian32(&header, image.height);
  header.push_back(8);  // bits per channel
  header.push_back(2);  // colour type: RGB
  header.push_back(0);  // compression: deflate
  header.push_back(0);  // filter method: adaptive, type per row
  header.push_back(0);  // no interlacing

  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(&file, "IHDR", header);
  PutChunk(&file, "IDAT", packed);
  PutChunk(&file, "IEND", {});
  return file;
}

bool WritePngFile(const std::string& path, const RgbImage& image) {
  const std::vector<uint8_t> bytes = EncodePng(image);
  if (bytes.empty()) return false;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace kv
