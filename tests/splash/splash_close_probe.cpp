// A small program for the close tests: shows the real splash, lets it paint,
// then asks it to close as the platform does for a user (WM_CLOSE posted to
// the window) and reports what became of it.
//
//   splash_close_probe.exe [launched] <marker file>
//
// With "launched", launchStarted is raised before the close request, as
// the launcher raises it just before it starts the second stage. The
// marker file is written by an exit-time handler registered with atexit,
// so it exists afterwards only if the process ended through the normal
// process exit. Exit codes:
//   0   the splash ended the process (Yes after the launch)
//   20  the splash is shown as before and the flags unchanged (No)
//   21  the splash or the flags changed otherwise
//   22  the splash could not be created or never painted
//   23  the splash is shown as before and only cancelRequested was raised
//       (Yes before the launch: the run stops at its next pause)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32.h"
#include "splash/shared_state.h"
#include "splash/splash_window.h"

namespace {

constexpr int kSplashUnchanged = 20;
constexpr int kSplashChanged = 21;
constexpr int kNoSplash = 22;
constexpr int kCancelRaised = 23;

std::string markerPath;

void WriteMarker() {
  if (FILE* file = std::fopen(markerPath.c_str(), "wb")) {
    std::fputs("exit-time clean-up ran\r\n", file);
    std::fclose(file);
  }
}

// The marker path: the whole command-line tail, without surrounding quotes.
std::string ArgumentOf(const char* tail) {
  std::string text = tail ? tail : "";
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    text = text.substr(1, text.size() - 2);
  return text;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  std::string tail = commandTail ? commandTail : "";
  const bool launched = tail.compare(0, 9, "launched ") == 0;
  if (launched) tail = tail.substr(9);
  markerPath = ArgumentOf(tail.c_str());
  if (!markerPath.empty()) std::atexit(&WriteMarker);

  appInstance = instance;
  HWND splash = kv::CreateSplash();
  if (!splash) return kNoSplash;
  const DWORD start = ::GetTickCount();
  MSG message;
  while (splashPending) {
    if (::GetTickCount() - start > 10000) return kNoSplash;
    if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    } else {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
  }

  if (launched) launchStarted = 1;
  // The close request comes through the queue, as a click on a close
  // button or Alt+F4 would bring it; its dispatch shows the confirmation
  // and returns once it is answered (unless Yes ends the process there).
  ::PostMessageA(splash, WM_CLOSE, 0, 0);
  for (;;) {
    const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got <= 0) return kSplashChanged;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
    if (message.hwnd == splash && message.message == WM_CLOSE) break;
  }

  const bool shown = ::IsWindow(splash) && ::IsWindowVisible(splash) && splashAlive == 1 &&
                     splashPending == 0 && launchStarted == (launched ? 1 : 0) &&
                     kv::SplashPalette() != nullptr && runEnding == 0;
  if (!shown) return kSplashChanged;
  return cancelRequested ? kCancelRaised : kSplashUnchanged;
}
