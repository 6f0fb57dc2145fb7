// The example second stage of the publishers' bundles (shipped there as
// StageRun.exe): it shows a publisher where a second stage stands, and does
// only what every second stage owes the launcher: it runs the cleanup
// script that the first CleanUp= names, by the contract of
// stage_contract.h, and ends. It reads no environment variable and writes
// nothing. A real second stage installs the archives that the first
// ResourceFile= names (APPBASE, PHOTOUNINST) before it does the same.
#include <string>

#include "payload/stagerun/stage_contract.h"
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string cleanup = kv::FirstQuotedValue(::GetCommandLineA(), "CleanUp");
  if (cleanup.empty()) return 1;
  return kv::StartCleanupScript(cleanup) ? 0 : 2;
}
