// The baseline for the launcher's fixed cost: the least a program can do
// that shows what the launcher shows and starts the second stage the way
// it does. It paints the launcher's very splash (the splash library and
// the setup executable's fixed resources: dialog 103, bitmap 134, icon,
// manifest), pumping messages until the first paint as the launcher does,
// unpacks its archives as the reference extractor does (for the benchmark:
// StageRun.exe alone), starts StageRun.exe from that folder with
// ShellExecuteExA, verb "open" and the launcher's parameter form, and then
// lets the splash end as the launcher does (destroyed, messages pumped
// while it is alive, at most 5000 ms).
//
// What it leaves out is what the launcher's fixed cost may spend beyond
// it: the single-instance probe, the free-space check, the unique names,
// the cleanup script and the run's bookkeeping.
//
// Exit code: 0 when the second stage was started; 2, 3 or 4 as for the
// reference extractor.
#include "bench/reference_unpack.h"
#include "splash/shared_state.h"
#include "splash/splash_window.h"

namespace {

constexpr DWORD kFinalWaitMs = 5000;

void PumpOneMessage() {
  MSG message;
  if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  using namespace kv::bench;
  appInstance = instance;
  splashPending = 1;
  HWND splash = kv::CreateSplash();
  while (splashPending) PumpOneMessage();
  try {
    const std::string workFolder = MakeReferenceWorkFolder();
    UnpackArchivesFast(instance, workFolder);
    launchStarted = 1;
    StartSecondStageFrom(workFolder, commandTail ? commandTail : "");
  } catch (const ReferenceFailure& failure) {
    ::DestroyWindow(splash);
    return failure.exitCode;
  }
  ::DestroyWindow(splash);
  const DWORD start = ::GetTickCount();
  while (splashAlive && ::GetTickCount() - start < kFinalWaitMs) PumpOneMessage();
  return 0;
}
