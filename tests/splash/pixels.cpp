#include "tests/splash/pixels.h"

#include <cstdio>

#include "splash/dib.h"

namespace kv::test {

Canvas::Canvas(int width, int height, uint32_t fill) : width_(width), height_(height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down: row 0 is the top row
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_.Reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  bits_ = static_cast<uint32_t*>(bits);
  context_ = ::CreateCompatibleDC(nullptr);
  previous_ = ::SelectObject(context_, bitmap_.Get());
  for (int i = 0; bits_ && i < width * height; ++i) bits_[i] = fill & 0xFFFFFF;
}

Canvas::~Canvas() {
  ::SelectObject(context_, previous_);
  ::DeleteDC(context_);
}

uint32_t Canvas::Pixel(int x, int y) const {
  ::GdiFlush();
  return bits_[y * width_ + x] & 0xFFFFFF;
}

bool Canvas::AllPixelsAre(uint32_t fill) const {
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x)
      if (Pixel(x, y) != (fill & 0xFFFFFF)) return false;
  return true;
}

bool Canvas::CaptureScreen(int left, int top) {
  HDC screen = ::GetDC(nullptr);
  const BOOL copied = ::BitBlt(context_, 0, 0, width_, height_, screen, left, top, SRCCOPY);
  ::ReleaseDC(nullptr, screen);
  ::GdiFlush();
  return copied != 0;
}

uint32_t DibPixel(const BITMAPINFOHEADER* dib, int x, int y) {
  const int height = dib->biHeight < 0 ? -dib->biHeight : dib->biHeight;
  const int row = dib->biHeight < 0 ? y : height - 1 - y;  // bottom-up rows
  const uint8_t* pixels = reinterpret_cast<const uint8_t*>(dib) + DibPixelOffset(dib) +
                          static_cast<size_t>(row) * DibRowBytes(dib->biWidth, dib->biBitCount);
  const uint8_t* p = nullptr;
  if (dib->biBitCount == 8) {
    p = reinterpret_cast<const uint8_t*>(dib) + dib->biSize + 4u * pixels[x];
  } else {
    p = pixels + static_cast<size_t>(x) * (dib->biBitCount / 8);
  }
  return (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
}

std::string ColourText(uint32_t colour) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(colour));
  return text;
}

}  // namespace kv::test
