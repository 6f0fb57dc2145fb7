// The real splash in this process, on the virtual screen: where it stands,
// the picture's pixels read back from the screen, and what each handled
// message does to the window, the palette and the shared flags.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "resources/resource_ids.h"
#include "splash/dib.h"
#include "splash/shared_state.h"
#include "splash/splash_window.h"
#include "tests/splash/pixels.h"

namespace kv {
namespace {

using test::Canvas;
using test::ColourText;
using test::DibPixel;

// Dispatches this thread's messages until `done` or `timeoutMs` has passed.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs = 5000) {
  const DWORD start = ::GetTickCount();
  MSG message;
  while (!done()) {
    if (::GetTickCount() - start > timeoutMs) return false;
    if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    } else {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
  }
  return true;
}

void PumpPending() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

bool IsPalette(HPALETTE palette) {
  return palette && ::GetObjectType(palette) == static_cast<DWORD>(OBJ_PAL);
}

// Compares the screen under the splash's client area with the picture;
// returns a description of the differences, empty when there are none.
// Only the display's colour depth may separate the two: at 24 bits and
// more every pixel must be equal.
std::string CompareOnce(HWND splash, const BITMAPINFOHEADER* picture) {
  POINT origin = {0, 0};
  ::ClientToScreen(splash, &origin);
  const int width = picture->biWidth;
  const int height = picture->biHeight < 0 ? -picture->biHeight : picture->biHeight;
  Canvas screen(width, height, 0);
  if (!screen.CaptureScreen(origin.x, origin.y)) return "the screen could not be read";

  HDC display = ::GetDC(nullptr);
  const int depth = ::GetDeviceCaps(display, BITSPIXEL);
  ::ReleaseDC(nullptr, display);
  uint32_t mask = 0xFFFFFF;
  if (depth == 16) mask = 0xF8FCF8;
  if (depth == 15) mask = 0xF8F8F8;
  if (depth < 15) return "a display of " + std::to_string(depth) + " bits cannot show the picture";

  int differing = 0;
  std::string first;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t want = DibPixel(picture, x, y);
      const uint32_t seen = screen.Pixel(x, y);
      if ((want & mask) != (seen & mask)) {
        if (differing++ == 0) {
          first = "first at " + std::to_string(x) + "," + std::to_string(y) + ": screen " +
                  ColourText(seen) + ", picture " + ColourText(want);
        }
      }
    }
  }
  if (differing == 0) return std::string();
  return std::to_string(differing) + " pixels differ; " + first;
}

// The screen is compared once what the window painted has reached it:
// Wine hands a window's painted pixels to the X server when the thread
// next waits for messages, so this waits (and pumps) up to two seconds for
// the screen to settle on the picture.
std::string CompareScreenWithPicture(HWND splash, const BITMAPINFOHEADER* picture) {
  std::string differences;
  PumpUntil([&] { return (differences = CompareOnce(splash, picture)).empty(); }, 2000);
  return differences;
}

class SplashWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    appInstance = ::GetModuleHandleA(nullptr);
    splashPending = 1;
    splashAlive = 1;
    launchStarted = 0;
    splash_ = CreateSplash();
    ASSERT_NE(splash_, nullptr);
    ::GetWindowRect(splash_, &createdRect_);
    ASSERT_TRUE(PumpUntil([] { return splashPending == 0; })) << "the splash never painted";
  }

  void TearDown() override {
    if (splash_) {
      // End it first, so that its palette is deleted, then destroy it.
      launchStarted = 1;
      SplashDlgProc(splash_, WM_KILLFOCUS, 0, 0);
      ::DestroyWindow(splash_);
      PumpPending();
    }
    launchStarted = 0;
    splashPending = 1;
    splashAlive = 1;
  }

  bool Shown() const { return ::IsWindow(splash_) && ::IsWindowVisible(splash_); }

  HWND splash_ = nullptr;
  RECT createdRect_ = {};
};

// --- Place and picture ----------------------------------------------------------

TEST_F(SplashWindow, StandsCentredWithAOnePixelBorderAroundThePicture) {
  ASSERT_EQ(::GetSystemMetrics(SM_CXSCREEN), 1024) << "the tests run on a 1024 x 768 screen";
  ASSERT_EQ(::GetSystemMetrics(SM_CYSCREEN), 768);
  // When CreateSplash returns, the three-fifths placement of initialisation
  // has been replaced by the centre.
  EXPECT_EQ(createdRect_.left, 271);
  EXPECT_EQ(createdRect_.top, 208);
  EXPECT_EQ(createdRect_.right - createdRect_.left, 482);
  EXPECT_EQ(createdRect_.bottom - createdRect_.top, 352);

  RECT client;
  ::GetClientRect(splash_, &client);
  EXPECT_EQ(client.right, 480);
  EXPECT_EQ(client.bottom, 350);
  POINT origin = {0, 0};
  ::ClientToScreen(splash_, &origin);
  EXPECT_EQ(origin.x, 272);
  EXPECT_EQ(origin.y, 209);

  const LONG style = ::GetWindowLongA(splash_, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_TRUE(style & WS_BORDER);
  EXPECT_NE(style & WS_CAPTION, static_cast<LONG>(WS_CAPTION)) << "the splash has a caption";
  EXPECT_FALSE(style & WS_SYSMENU);
  EXPECT_TRUE(Shown());
  char className[64] = "";
  ::GetClassNameA(splash_, className, sizeof className);
  EXPECT_STREQ(className, "#32770");
}

TEST_F(SplashWindow, TheScreenShowsThePictureExactly) {
  const BITMAPINFOHEADER* picture = LoadResourceDib(MAKEINTRESOURCEA(IDB_SPLASH), appInstance);
  ASSERT_NE(picture, nullptr);
  ASSERT_EQ(picture->biWidth, 480);
  ASSERT_EQ(picture->biHeight, 350);

  EXPECT_EQ(CompareScreenWithPicture(splash_, picture), "");
}

TEST_F(SplashWindow, EveryPaintPaintsThePictureAndClearsSplashPending) {
  const BITMAPINFOHEADER* picture = SplashBitmap();
  ASSERT_NE(picture, nullptr);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("paint " + std::to_string(round + 2));
    // Spoil what the screen shows, then let the window repaint it.
    HDC context = ::GetDC(splash_);
    RECT client;
    ::GetClientRect(splash_, &client);
    ::FillRect(context, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::ReleaseDC(splash_, context);
    splashPending = 1;
    ::InvalidateRect(splash_, nullptr, FALSE);
    ASSERT_TRUE(PumpUntil([] { return splashPending == 0; }));
    EXPECT_EQ(CompareScreenWithPicture(splash_, picture), "");
  }
  // A paint message sent straight to the procedure counts as well.
  splashPending = 1;
  EXPECT_EQ(SplashDlgProc(splash_, WM_PAINT, 0, 0), 1);
  EXPECT_EQ(splashPending, 0);
}

TEST_F(SplashWindow, Bitmap134KeepsItsHeaderAndGetsTheWidenedStockPalette) {
  const BITMAPINFOHEADER* picture = SplashBitmap();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->biSize, 40u);
  EXPECT_EQ(picture->biWidth, 480);
  EXPECT_EQ(picture->biHeight, 350);
  EXPECT_EQ(picture->biBitCount, 24);
  EXPECT_EQ(picture->biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(picture->biSizeImage, 504002u);
  EXPECT_EQ(picture->biClrUsed, 0u);

  const HPALETTE palette = SplashPalette();
  ASSERT_TRUE(IsPalette(palette));
  PALETTEENTRY entries[256];
  ASSERT_EQ(::GetPaletteEntries(palette, 0, 0, nullptr), 256u);
  ASSERT_EQ(::GetPaletteEntries(palette, 0, 256, entries), 256u);
  PALETTEENTRY stock[256];
  const UINT stockCount =
      ::GetPaletteEntries(static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE)), 0, 256, stock);
  ASSERT_GT(stockCount, 0u);
  ASSERT_LT(stockCount, 256u);
  for (UINT i = 0; i < 256; ++i) {
    const PALETTEENTRY want = i < stockCount ? stock[i] : PALETTEENTRY{0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&entries[i], &want, sizeof want), 0) << "entry " << i;
  }

  // Painted elsewhere it is 480 x 350 pixels at the given point.
  Canvas canvas(484, 354, 0x123456);
  EXPECT_EQ(PaintDib(picture, canvas.context(), 2, 3), 350);
  EXPECT_EQ(canvas.Pixel(1, 3), 0x123456u);
  EXPECT_EQ(canvas.Pixel(2, 2), 0x123456u);
  EXPECT_EQ(canvas.Pixel(2, 3), DibPixel(picture, 0, 0));
  EXPECT_EQ(canvas.Pixel(481, 352), DibPixel(picture, 479, 349));
  EXPECT_EQ(canvas.Pixel(482, 352), 0x123456u);
  EXPECT_EQ(canvas.Pixel(481, 353), 0x123456u);
}

// --- Ending -------------------------------------------------------------------

TEST_F(SplashWindow, FocusLossBeforeTheLaunchChangesNothing) {
  const HPALETTE palette = SplashPalette();
  EXPECT_EQ(SplashDlgProc(splash_, WM_KILLFOCUS, 0, 0), 1);
  PumpPending();
  EXPECT_TRUE(Shown());
  EXPECT_EQ(splashAlive, 1);
  EXPECT_EQ(SplashPalette(), palette);
  EXPECT_TRUE(IsPalette(palette));
}

TEST_F(SplashWindow, FocusLossAfterTheLaunchEndsTheSplashAndDeletesThePaletteOnce) {
  const HPALETTE palette = SplashPalette();
  ASSERT_TRUE(IsPalette(palette));
  launchStarted = 1;

  EXPECT_EQ(SplashDlgProc(splash_, WM_KILLFOCUS, 0, 0), 1);

  EXPECT_TRUE(::IsWindow(splash_)) << "ending must hide the splash, not destroy it";
  EXPECT_FALSE(::IsWindowVisible(splash_));
  EXPECT_EQ(splashAlive, 0);
  EXPECT_EQ(SplashPalette(), nullptr);
  EXPECT_FALSE(IsPalette(palette)) << "the palette was not deleted";

  // A palette made now may get the old handle's number; the later ending
  // paths must not delete it.
  LOGPALETTE one = {0x300, 1, {{0x10, 0x20, 0x30, 0}}};
  ScopedGdiObject other(::CreatePalette(&one));
  ASSERT_TRUE(IsPalette(static_cast<HPALETTE>(other.Get())));
  splashAlive = 1;
  EXPECT_EQ(SplashDlgProc(splash_, WM_KILLFOCUS, 0, 0), 1);
  EXPECT_EQ(SplashDlgProc(splash_, WM_COMMAND, IDCANCEL, 0), 1);
  EXPECT_TRUE(IsPalette(static_cast<HPALETTE>(other.Get()))) << "a palette was deleted twice";
  EXPECT_EQ(splashAlive, 0);
  EXPECT_FALSE(::IsWindowVisible(splash_));
}

TEST_F(SplashWindow, TheCancelCommandEndsTheSplashAndKeepsThePicture) {
  const HPALETTE palette = SplashPalette();
  const BITMAPINFOHEADER* picture = SplashBitmap();
  ASSERT_NE(picture, nullptr);

  EXPECT_EQ(SplashDlgProc(splash_, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0), 1);

  EXPECT_TRUE(::IsWindow(splash_));
  EXPECT_FALSE(::IsWindowVisible(splash_));
  EXPECT_EQ(splashAlive, 0);
  EXPECT_EQ(SplashPalette(), nullptr);
  EXPECT_FALSE(IsPalette(palette));
  // The picture lives in no global block: handing it to FreeDib freed nothing.
  EXPECT_EQ(picture->biWidth, 480);
  EXPECT_EQ(picture->biSizeImage, 504002u);
  EXPECT_TRUE(::HeapValidate(::GetProcessHeap(), 0, nullptr));
}

TEST_F(SplashWindow, OtherCommandsDoNothing) {
  const HPALETTE palette = SplashPalette();
  launchStarted = 1;
  const WPARAM commands[] = {IDOK,
                             MAKEWPARAM(IDCANCEL, 1),
                             MAKEWPARAM(IDCANCEL, BN_CLICKED + 5),
                             MAKEWPARAM(IDCANCEL, 0xFFFF),
                             3,
                             0};
  for (WPARAM command : commands) {
    EXPECT_EQ(SplashDlgProc(splash_, WM_COMMAND, command, 0), 1) << "wParam " << command;
    PumpPending();
    EXPECT_TRUE(Shown()) << "wParam " << command;
    EXPECT_EQ(splashAlive, 1) << "wParam " << command;
    EXPECT_EQ(SplashPalette(), palette) << "wParam " << command;
  }
  EXPECT_TRUE(IsPalette(palette));
}

TEST_F(SplashWindow, ATimerEndsTheSplashThroughAPostedCancel) {
  ASSERT_NE(::SetTimer(splash_, 1, 10, nullptr), 0u);
  ASSERT_TRUE(PumpUntil([] { return splashAlive == 0; })) << "the timer did not end the splash";
  EXPECT_FALSE(::IsWindowVisible(splash_));
  EXPECT_EQ(SplashPalette(), nullptr);
  // The timer was stopped: nothing more arrives for it.
  MSG message;
  ::Sleep(50);
  EXPECT_FALSE(::PeekMessageA(&message, splash_, WM_TIMER, WM_TIMER, PM_NOREMOVE));
}

TEST_F(SplashWindow, UnhandledMessagesReturnZero) {
  const UINT messages[] = {WM_NULL,        WM_SIZE,    WM_MOVE,      WM_MOUSEMOVE,
                           WM_LBUTTONDOWN, WM_KEYDOWN, WM_SETFOCUS,  WM_ACTIVATE,
                           WM_ERASEBKGND,  WM_USER,    WM_USER + 103};
  for (UINT message : messages) {
    EXPECT_EQ(SplashDlgProc(splash_, message, 0, 0), 0) << "message 0x" << std::hex << message;
  }
  EXPECT_TRUE(Shown());
  EXPECT_EQ(splashAlive, 1);
  EXPECT_EQ(splashPending, 0);
}

}  // namespace
}  // namespace kv
