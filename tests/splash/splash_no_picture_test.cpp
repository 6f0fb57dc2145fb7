// The splash in a module that carries dialog 103 but no bitmap 134: it
// comes up without a picture, sized by its template, centred, and paints.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "splash/shared_state.h"
#include "splash/splash_window.h"
#include "tests/splash/test_bitmaps.h"

namespace kv {
namespace {

INT_PTR CALLBACK PlainDialog(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

void PumpUntilPainted(DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  MSG message;
  while (splashPending && ::GetTickCount() - start < timeoutMs) {
    if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    } else {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
  }
}

TEST(SplashWithoutPicture, KeepsTheTemplateSizeCentredAndPaints) {
  ASSERT_EQ(
      ::FindResourceA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(134), MAKEINTRESOURCEA(2)),
      nullptr);
  // The size the template alone gives the window.
  HWND plain = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(TDLG_SPLASH),
                                    nullptr, &PlainDialog, 0);
  ASSERT_NE(plain, nullptr);
  RECT plainRect;
  ::GetWindowRect(plain, &plainRect);
  ::DestroyWindow(plain);
  const int width = plainRect.right - plainRect.left;
  const int height = plainRect.bottom - plainRect.top;

  appInstance = ::GetModuleHandleA(nullptr);
  splashPending = 1;
  splashAlive = 1;
  launchStarted = 0;
  HWND splash = CreateSplash();
  ASSERT_NE(splash, nullptr);
  EXPECT_EQ(SplashBitmap(), nullptr);
  EXPECT_EQ(SplashPalette(), nullptr);

  RECT rect;
  ::GetWindowRect(splash, &rect);
  EXPECT_EQ(rect.right - rect.left, width);
  EXPECT_EQ(rect.bottom - rect.top, height);
  EXPECT_EQ(rect.left, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  EXPECT_EQ(rect.top, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2);
  EXPECT_TRUE(::IsWindowVisible(splash));

  PumpUntilPainted(5000);
  EXPECT_EQ(splashPending, 0) << "the splash without a picture never finished a paint";
  EXPECT_EQ(splashAlive, 1);

  ::DestroyWindow(splash);
}

TEST(SplashWithoutDialog, CreateSplashClearsBothFlagsAndReturnsNull) {
  // A module without dialog 103: the launcher carries on without a splash.
  HINSTANCE module = ::GetModuleHandleA("kernel32.dll");
  ASSERT_NE(module, nullptr);
  ASSERT_EQ(::FindResourceA(module, MAKEINTRESOURCEA(103), RT_DIALOG), nullptr);
  appInstance = module;
  splashPending = 1;
  splashAlive = 1;

  EXPECT_EQ(CreateSplash(), nullptr);
  EXPECT_EQ(SplashWindow(), nullptr);
  EXPECT_EQ(splashPending, 0);
  EXPECT_EQ(splashAlive, 0);
  appInstance = ::GetModuleHandleA(nullptr);
}

}  // namespace
}  // namespace kv
