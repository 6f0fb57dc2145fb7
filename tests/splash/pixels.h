// Pixels as the tests see them: a memory canvas to paint on, the screen
// read back, and the colour a DIB holds at a point, all as 0xRRGGBB.
#pragma once

#include <cstdint>
#include <string>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kv::test {

// A 32-bit top-down DIB section selected into a memory context.
class Canvas {
 public:
  // A canvas of width x height pixels, all of colour `fill`.
  Canvas(int width, int height, uint32_t fill);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC context() const { return context_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // The colour at (x, y), 0xRRGGBB.
  uint32_t Pixel(int x, int y) const;
  // True when every pixel still has colour `fill`.
  bool AllPixelsAre(uint32_t fill) const;

  // Copies the screen rectangle whose top-left corner is (left, top) into
  // the canvas (GetDC(NULL) and BitBlt).
  bool CaptureScreen(int left, int top);

 private:
  int width_;
  int height_;
  HDC context_ = nullptr;
  ScopedGdiObject bitmap_;
  HGDIOBJ previous_ = nullptr;
  uint32_t* bits_ = nullptr;
};

// The colour of pixel (x, y), counted from the top-left corner as the
// picture is shown, of an uncompressed DIB of 8, 24 or 32 bits (8 bits
// through its colour table).
uint32_t DibPixel(const BITMAPINFOHEADER* dib, int x, int y);

// "0xRRGGBB".
std::string ColourText(uint32_t colour);

}  // namespace kv::test
