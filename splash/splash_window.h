// The splash window: a captionless pop-up dialog (template 103) that shows
// bitmap 134 at the middle of the screen while the launcher works. It talks
// to the main sequence through the flags of splash/shared_state.h.
#pragma once

#include "platform/win32.h"

namespace kv {

// Creates the splash from dialog 103 of `appInstance`, sized so that its
// client area is exactly the picture, shown and centred on the screen.
// Returns the window, or null when the dialog cannot be created; then
// `splashPending` and `splashAlive` are both cleared.
HWND CreateSplash();

// The dialog procedure. Handles WM_INITDIALOG, WM_PAINT, WM_CLOSE,
// WM_KILLFOCUS, WM_COMMAND and WM_TIMER and returns 1 for them; every other
// message returns 0. A WM_CLOSE asks the close question (no question while
// one is shown, the run is cancelled already or ends anyway); Yes raises
// cancelRequested, or, once launchStarted is set, ends the process with
// code 0.
INT_PTR CALLBACK SplashDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The splash's current window, picture and palette (null when none).
HWND SplashWindow();
const BITMAPINFOHEADER* SplashBitmap();
HPALETTE SplashPalette();

}  // namespace kv
