#include "launcher/main_sequence.h"

#include <direct.h>

#include "archive/archive_walk.h"
#include "launcher/cleanup_script.h"
#include "launcher/folder_path.h"
#include "launcher/free_space.h"
#include "launcher/message_table.h"
#include "launcher/second_stage.h"
#include "launcher/unique_name.h"
#include "splash/shared_state.h"
#include "splash/splash_window.h"
#include "zkstring/zk_string.h"

namespace kv {
namespace {

// Shows the splash and dispatches messages until it has painted once (or
// could not be created).
HWND ShowSplash() {
  splashPending = 1;
  HWND splash = CreateSplash();
  while (splashPending) PumpOneMessage();
  return splash;
}

// Tells the user that `drive` lacks room; the message box waits for OK.
void ReportInsufficientSpace(const char* drive, float freeBytes) {
  ZkString text;
  text.Format(GetMsgText(kMsgInsufficientSpace), drive, kRequiredFreeBytes / 1048576.0,
              static_cast<double>(freeBytes) / 1048576.0);
  ::MessageBoxA(nullptr, text, GetMsgText(kMsgTitle), MB_TOPMOST);
}

// Writes the cleanup script while unpacking every archive into the work
// folder; the script is complete and closed when this returns.
void UnpackWithCleanupScript(const ZkString& scriptPath, const ZkString& workFolder) {
  CreatedFolderList folders;
  CleanupScript script(scriptPath, workFolder);
  UnpackArchives(appInstance, workFolder, folders,
                 [&script](const char* targetPath) { script.AddUnpackedFile(targetPath); });
  script.Finish(folders);
}

// Lets the splash end (it does when it loses the focus after the launch)
// for at most kFinalWaitMs.
void FinalWait() {
  const DWORD start = ::timeGetTime();
  while (splashAlive && ::timeGetTime() - start < kFinalWaitMs) PumpOneMessage();
}

}  // namespace

bool BringOpenSetupForward() {
  HWND open = ::FindWindowA(kSetupWindowClass, kSetupWindowTitle);
  if (!open) return false;
  if (::IsIconic(open)) ::ShowWindow(open, SW_RESTORE);
  ::SetForegroundWindow(open);
  return true;
}

void PumpOneMessage() {
  MSG message;
  if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

int RunMainSequence(HINSTANCE instance, const char* commandTail) {
  appInstance = instance;
  if (BringOpenSetupForward()) return kExitSuccess;

  HWND splash = ShowSplash();

  char tempFolder[MAX_PATH];
  GetTemporaryFolder(tempFolder, sizeof tempFolder);
  const char drive[3] = {tempFolder[0], ':', '\0'};
  const float freeBytes = static_cast<float>(GetFreeSpace(drive));
  if (freeBytes < kRequiredFreeBytes) {
    ReportInsufficientSpace(drive, freeBytes);
    return kExitInsufficientSpace;
  }

  // The script's name is chosen first, so its search seeds the generator.
  const ZkString scriptPath = MakeUniqueName(ZkString(tempFolder) + "%d.bat");
  ZkString workFolder = MakeUniqueName(ZkString(tempFolder) + "KVGSetup%d");
  workFolder += "\\";

  UnpackWithCleanupScript(scriptPath, workFolder);

  _chdir(workFolder);
  char programPath[MAX_PATH];
  ::GetModuleFileNameA(appInstance, programPath, sizeof programPath);
  const ZkString parameters = FormatSecondStageParameters(programPath, scriptPath, commandTail);

  launchStarted = 1;
  LaunchSecondStage(parameters);
  ::DestroyWindow(splash);
  FinalWait();
  return kExitSuccess;
}

}  // namespace kv
