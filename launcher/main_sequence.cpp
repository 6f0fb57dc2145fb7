#include "launcher/main_sequence.h"

#include <direct.h>

#include <exception>
#include <string>
#include <vector>

#include "archive/archive_walk.h"
#include "launcher/cleanup_script.h"
#include "launcher/folder_path.h"
#include "launcher/free_space.h"
#include "launcher/message_table.h"
#include "launcher/run_failure.h"
#include "launcher/run_journal.h"
#include "launcher/second_stage.h"
#include "launcher/unique_name.h"
#include "launcher/work_folder.h"
#include "platform/system_library.h"
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

// A unique name in the temporary folder, or RunError when all are taken.
ZkString ChooseName(const char* tempFolder, const char* suffixPattern) {
  ZkString name = MakeUniqueName(ZkString(tempFolder) + suffixPattern);
  if (name.IsEmpty()) {
    RunFailure failure;
    failure.exitCode = kExitNoFreeName;
    failure.text = kFailNoFreeName;
    failure.subject = tempFolder;
    throw RunError(failure);
  }
  return name;
}

// Feeds the cleanup script and the journal as the archives are unpacked.
class UnpackRecorder : public UnpackObserver {
 public:
  UnpackRecorder(CleanupScript& script, RunJournal& journal) : script_(script), journal_(journal) {}
  void FileCreated(const char* targetPath) override { journal_.FileCreated(targetPath); }
  void EntryUnpacked(const char* targetPath) override {
    journal_.WorkingOn(scriptPath_);
    script_.AddUnpackedFile(targetPath);
  }
  void SetScriptPath(const std::string& path) { scriptPath_ = path; }

 private:
  CleanupScript& script_;
  RunJournal& journal_;
  std::string scriptPath_;
};

// Writes the cleanup script while unpacking every archive into the work
// folder; the script is complete and closed when this returns. Everything
// written is recorded in `journal` and `folders` as it is written.
void UnpackWithCleanupScript(const ZkString& scriptPath, const ZkString& workFolder,
                             CreatedFolderList& folders, RunJournal& journal) {
  journal.ScriptCreated(static_cast<const char*>(scriptPath));
  CleanupScript script(scriptPath, workFolder);

  if (IsElevated()) {
    // Made before anything is unpacked into it, with an access list that
    // keeps the unelevated user from changing what it holds.
    ZkString folder = workFolder.Left(workFolder.GetLength() - 1);
    journal.WorkingOn(static_cast<const char*>(folder));
    if (!CreateProtectedFolder(folder)) {
      RunFailure failure;
      failure.exitCode = kExitCannotCreate;
      failure.text = kFailCannotCreate;
      failure.subject = static_cast<const char*>(folder);
      failure.detail = SystemErrorText(::GetLastError());
      throw RunError(failure);
    }
    folders.push_front(folder);
  }

  UnpackRecorder recorder(script, journal);
  recorder.SetScriptPath(static_cast<const char*>(scriptPath));
  UnpackArchives(appInstance, workFolder, folders, recorder);
  journal.WorkingOn(static_cast<const char*>(scriptPath));
  script.Finish(folders);
}

// Takes back what a failed run wrote and tells the user what failed.
int ReportFailure(HWND splash, const RunFailure& failure, RunJournal& journal,
                  const CreatedFolderList& folders) {
  const std::vector<std::string> left = journal.Undo(folders);
  ::DestroyWindow(splash);
  ::MessageBoxA(nullptr, FailureMessage(failure, left), GetMsgText(kMsgTitle),
                MB_OK | MB_ICONERROR | MB_TOPMOST);
  return failure.exitCode;
}

// Lets the splash end (it does when it loses the focus after the launch)
// for at most kFinalWaitMs.
void FinalWait() {
  const DWORD start = MilliClock();
  while (splashAlive && MilliClock() - start < kFinalWaitMs) PumpOneMessage();
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

  // Every failure from here to the closed script ends the run the same way:
  // what was written is removed, the user is told, the second stage is not
  // started.
  RunJournal journal;
  CreatedFolderList folders;
  ZkString scriptPath;
  ZkString workFolder;
  std::exception_ptr failure;
  DWORD lastError = 0;
  try {
    // The script's name is chosen first, so its search seeds the generator.
    scriptPath = ChooseName(tempFolder, "%d.bat");
    workFolder = ChooseName(tempFolder, "KVGSetup%d");
    workFolder += "\\";
    UnpackWithCleanupScript(scriptPath, workFolder, folders, journal);
  } catch (...) {
    lastError = ::GetLastError();
    failure = std::current_exception();
  }
  if (failure) {
    return ReportFailure(splash, DescribeFailure(failure, journal.CurrentFile(), lastError),
                         journal, folders);
  }

  _chdir(workFolder);
  char programPath[MAX_PATH];
  ::GetModuleFileNameA(appInstance, programPath, sizeof programPath);
  const ZkString parameters = FormatSecondStageParameters(programPath, scriptPath, commandTail);

  launchStarted = 1;
  LaunchSecondStage(parameters);
  // The second stage has its own current directory now. Standing in the
  // work folder during the final wait would keep the cleanup script, which
  // the second stage may run at once, from removing it.
  _chdir(tempFolder);
  ::DestroyWindow(splash);
  FinalWait();
  return kExitSuccess;
}

}  // namespace kv
