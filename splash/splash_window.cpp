#include "splash/splash_window.h"

#include <cstdlib>

#include "launcher/message_box.h"
#include "launcher/message_table.h"
#include "resources/resource_ids.h"
#include "splash/dib.h"
#include "splash/shared_state.h"

namespace kv {
namespace {

HWND splashWindow = nullptr;
BITMAPINFOHEADER* splashBitmap = nullptr;
HPALETTE splashPalette = nullptr;

int BitmapHeight(const BITMAPINFOHEADER* dib) {
  return dib->biHeight < 0 ? -dib->biHeight : dib->biHeight;
}

// Ends the splash: hides it (EndDialog on a modeless dialog hides it without
// destroying it), deletes the palette once and tells the main sequence.
void EndSplash(HWND window) {
  ::EndDialog(window, 1);
  if (splashPalette) {
    ::DeleteObject(splashPalette);
    splashPalette = nullptr;
  }
  splashAlive = 0;
}

void OnInitDialog(HWND window) {
  splashBitmap = LoadResourceDib(MAKEINTRESOURCEA(IDB_SPLASH), appInstance);
  if (splashBitmap) splashPalette = CreateDibPalette(splashBitmap);

  RECT client;
  RECT frame;
  ::GetClientRect(window, &client);
  ::GetWindowRect(window, &frame);
  const int frameWidth = frame.right - frame.left;
  const int frameHeight = frame.bottom - frame.top;
  // Without a picture the window keeps the size its template gave it.
  const int width = splashBitmap ? splashBitmap->biWidth + (frameWidth - client.right) : frameWidth;
  const int height =
      splashBitmap ? BitmapHeight(splashBitmap) + (frameHeight - client.bottom) : frameHeight;
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - frameWidth) / 2;
  const int y = ((::GetSystemMetrics(SM_CYSCREEN) - frameHeight) * 3) / 5;
  ::SetWindowPos(window, HWND_NOTOPMOST, x, y, width, height, SWP_SHOWWINDOW);

  HICON icon = ::LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_SETUP_ICON));
  ::SetClassLongA(window, GCL_HICON, static_cast<LONG>(reinterpret_cast<LONG_PTR>(icon)));
}

void OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC context = ::BeginPaint(window, &paint);
  ::SelectPalette(context, splashPalette, FALSE);
  ::RealizePalette(context);
  PaintDib(splashBitmap, context, 0, 0);
  ::EndPaint(window, &paint);
  splashPending = 0;
}

// The close question. Its answer is only recorded: the run stops at its
// next pause, where nothing is half-written (an exception thrown from here
// would not travel back through DispatchMessageA). Once the second stage
// has started there is nothing left to stop, and Yes ends the launcher
// through the normal process exit.
void OnClose() {
  static bool asking = false;  // a second request while the question is shown
  if (asking || cancelRequested || runEnding) return;
  asking = true;
  const int answer = ShowMessage(GetMsgText(kMsgConfirmInterrupt), GetMsgText(kMsgTitle),
                                 MB_YESNO | MB_TOPMOST);
  asking = false;
  if (answer != IDYES) return;
  if (launchStarted) std::exit(0);
  cancelRequested = 1;
}

}  // namespace

HWND CreateSplash() {
  splashWindow = ::CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_SPLASH), nullptr,
                                      &SplashDlgProc, 0);
  if (!splashWindow) {
    splashPending = 0;
    splashAlive = 0;
    return nullptr;
  }
  RECT frame;
  ::GetWindowRect(splashWindow, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  ::SetWindowPos(splashWindow, HWND_NOTOPMOST, x, y, 0, 0, SWP_SHOWWINDOW | SWP_NOSIZE);
  return splashWindow;
}

INT_PTR CALLBACK SplashDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(window);
      return 1;
    case WM_PAINT:
      OnPaint(window);
      return 1;
    case WM_CLOSE:
      OnClose();
      return 1;
    case WM_KILLFOCUS:
      if (launchStarted) EndSplash(window);
      return 1;
    case WM_COMMAND:
      if (wParam == IDCANCEL) {
        EndSplash(window);
        FreeDib(splashBitmap);
      }
      return 1;
    case WM_TIMER:
      ::KillTimer(window, 1);
      ::PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
      return 1;
    default:
      return 0;
  }
}

HWND SplashWindow() { return splashWindow; }
const BITMAPINFOHEADER* SplashBitmap() { return splashBitmap; }
HPALETTE SplashPalette() { return splashPalette; }

}  // namespace kv
