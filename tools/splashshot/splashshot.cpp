// splashshot <out.png> [<screen.png>]
//
// Shows the launcher's splash window (the real one: dialog 103 and bitmap
// 134 of this program's resources, which are the launcher's), waits until
// it has painted and its pixels have reached the screen, and saves the
// screen rectangle of the window, border included, as a PNG file, so that
// a person can look at what the launcher shows. With a second file name
// it also saves the whole screen there, which shows where the splash
// stands.
//
// Exit codes: 0 saved; 1 the splash could not be shown or captured, or the
// file not written; 2 wrong arguments.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "splash/shared_state.h"
#include "splash/splash_window.h"
#include "tools/splashshot/png_writer.h"

namespace {

constexpr DWORD kPaintTimeoutMs = 10000;
// Wine hands a window's painted pixels to the X server when its thread
// waits for messages; this long an idle wait lets them arrive.
constexpr DWORD kSettleMs = 300;

// Dispatches messages until `done` holds or `timeoutMs` has passed, waiting
// for messages (idle) in between. Returns `done`.
template <typename Done>
bool Pump(Done done, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  MSG message;
  while (!done() && ::GetTickCount() - start < timeoutMs) {
    if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    } else {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
  }
  return done();
}

// Reads the screen rectangle `rect` into an RGB picture.
bool CaptureScreen(const RECT& rect, kv::RgbImage* image) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  kv::ScopedGdiObject section(
      ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!section.IsValid() || !bits) return false;

  HDC memory = ::CreateCompatibleDC(nullptr);
  HGDIOBJ previous = ::SelectObject(memory, section.Get());
  HDC screen = ::GetDC(nullptr);
  const BOOL copied = ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  ::ReleaseDC(nullptr, screen);
  ::GdiFlush();
  ::SelectObject(memory, previous);
  ::DeleteDC(memory);
  if (!copied) return false;

  image->width = static_cast<uint32_t>(width);
  image->height = static_cast<uint32_t>(height);
  image->pixels.resize(static_cast<size_t>(width) * height * 3);
  const auto* source = static_cast<const uint8_t*>(bits);  // blue, green, red, unused
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    image->pixels[i * 3] = source[i * 4 + 2];
    image->pixels[i * 3 + 1] = source[i * 4 + 1];
    image->pixels[i * 3 + 2] = source[i * 4];
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: splashshot <out.png> [<screen.png>]\n");
    return 2;
  }
  const std::string out = argv[1];
  const std::string screenOut = argc == 3 ? argv[2] : "";

  appInstance = ::GetModuleHandleA(nullptr);
  HWND splash = kv::CreateSplash();
  if (!splash) {
    std::fprintf(stderr, "splashshot: the splash window could not be created\n");
    return 1;
  }
  if (!Pump([] { return splashPending == 0; }, kPaintTimeoutMs)) {
    std::fprintf(stderr, "splashshot: the splash did not paint\n");
    return 1;
  }
  Pump([] { return false; }, kSettleMs);

  RECT rect;
  ::GetWindowRect(splash, &rect);
  const RECT screenRect = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  kv::RgbImage image;
  kv::RgbImage screen;
  const bool captured =
      CaptureScreen(rect, &image) && (screenOut.empty() || CaptureScreen(screenRect, &screen));
  ::DestroyWindow(splash);
  if (!captured) {
    std::fprintf(stderr, "splashshot: the screen could not be read\n");
    return 1;
  }
  if (!kv::WritePngFile(out, image)) {
    std::fprintf(stderr, "splashshot: cannot write %s\n", out.c_str());
    return 1;
  }
  if (!screenOut.empty() && !kv::WritePngFile(screenOut, screen)) {
    std::fprintf(stderr, "splashshot: cannot write %s\n", screenOut.c_str());
    return 1;
  }
  std::printf("splashshot: %s, %u x %u pixels at %ld,%ld\n", out.c_str(), image.width, image.height,
              rect.left, rect.top);
  return 0;
}
