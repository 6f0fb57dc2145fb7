#include "launcher/main_sequence.h"

#include <direct.h>

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "archive/archive_walk.h"
#include "launcher/ansi_path.h"
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

// Tells the user that `path` cannot be used, before anything is written.
// The message names the path in full Unicode: the ANSI code page is what
// cannot hold it.
int ReportUnusablePath(HWND splash, FailureTextId text, const std::wstring& path) {
  ::DestroyWindow(splash);
  ::MessageBoxW(nullptr, WidePathFailureMessage(text, path).c_str(),
                FromWindows1252(GetMsgText(kMsgTitle)).c_str(), MB_OK | MB_ICONERROR | MB_TOPMOST);
  return kExitUnusablePath;
}

[[noreturn]] void FailNoFreeName(const std::string& tempFolder) {
  RunFailure failure;
  failure.exitCode = kExitNoFreeName;
  failure.text = kFailNoFreeName;
  failure.subject = tempFolder;
  throw RunError(failure);
}

// A unique name in the temporary folder, or RunError when all are taken.
ZkString ChooseName(const std::string& tempFolder, const char* suffixPattern) {
  ZkString name = MakeUniqueName(ZkString(tempFolder.c_str()) + suffixPattern);
  if (name.IsEmpty()) FailNoFreeName(tempFolder);
  return name;
}

// The part of `path` behind its last backslash.
const char* FileName(const char* path) {
  const char* cut = std::strrchr(path, '\\');
  return cut ? cut + 1 : path;
}

// Takes the work folder: the first free "KVGSetup<n>" of the temporary
// folder, created and held in one step (protected when elevated). When
// another process takes the chosen name in between, the next free name is
// taken. Before each creation every path the run will need below that
// name is checked, so a payload whose paths cannot fit is refused before
// anything is written. Returns the folder path with its backslash.
ZkString TakeWorkFolder(const std::string& tempFolder, const std::vector<PayloadArchive>& payload,
                        const char* scriptFileName, WorkFolder& work, CreatedFolderList& folders,
                        RunJournal& journal) {
  const bool protect = IsElevated();
  for (int attempt = 0;; ++attempt) {
    const ZkString name = ChooseName(tempFolder, "KVGSetup%d");
    const std::string folder = std::string(name) + "\\";
    CheckTargetPaths(payload, folder, folder + scriptFileName);
    journal.WorkingOn(static_cast<const char*>(name));
    DWORD error = 0;
    switch (work.Create(name, protect, &error)) {
      case WorkFolder::Outcome::kCreated:
        folders.push_front(name);
        // Held, the folder and every real folder above it stay where they
        // are; a link above it could still be pointed elsewhere, and every
        // path the run opens would follow it.
        if (protect && PathHasLink(name)) {
          RunFailure failure;
          failure.exitCode = kExitLinkedTemp;
          failure.text = kFailLinkedTemp;
          failure.subject = tempFolder;
          throw RunError(failure);
        }
        return ZkString(folder.c_str());
      case WorkFolder::Outcome::kNameTaken:
        if (attempt + 1 >= kUniqueNameAttempts) FailNoFreeName(tempFolder);
        break;
      case WorkFolder::Outcome::kFailed: {
        RunFailure failure;
        failure.exitCode = kExitCannotCreate;
        failure.text = kFailCannotCreate;
        failure.subject = static_cast<const char*>(name);
        failure.detail = SystemErrorText(error);
        throw RunError(failure);
      }
    }
  }
}

// Feeds the cleanup script and the journal as the archives are unpacked.
class UnpackRecorder : public UnpackObserver {
 public:
  UnpackRecorder(CleanupScript& script, RunJournal& journal, const char* scriptPath)
      : script_(script), journal_(journal), scriptPath_(scriptPath) {}
  void FileOpened(const char* targetPath, bool createdNow) override {
    // A name repeated by a later archive is the same file, recorded once.
    if (createdNow) {
      journal_.FileCreated(targetPath);
    } else {
      journal_.WorkingOn(targetPath);
    }
  }
  void EntryUnpacked(const char* targetPath) override {
    journal_.WorkingOn(scriptPath_);
    script_.AddUnpackedFile(targetPath);
  }

 private:
  CleanupScript& script_;
  RunJournal& journal_;
  std::string scriptPath_;
};

// Takes the work folder, writes the cleanup script into it while unpacking
// every archive, and closes the script. Everything written is recorded in
// `journal` and `folders` as soon as this run has created it. Returns the
// work folder path (with its backslash) in `*workFolder` and the script's
// in `*scriptPath`.
void UnpackWithCleanupScript(const std::string& tempFolder, WorkFolder& work,
                             CreatedFolderList& folders, RunJournal& journal,
                             ZkString* workFolder, ZkString* scriptPath) {
  const std::vector<PayloadArchive> payload = ReadPayload(appInstance);
  // The script's name is chosen first, so its search seeds the generator.
  // It is a name that nothing in the temporary folder uses: the script
  // lies in the work folder under it and moves there to remove the folder.
  const ZkString outsideScript = ChooseName(tempFolder, "%d.bat");
  *workFolder = TakeWorkFolder(tempFolder, payload, FileName(outsideScript), work, folders, journal);
  *scriptPath = *workFolder + FileName(outsideScript);

  journal.WorkingOn(static_cast<const char*>(*scriptPath));
  CleanupScript script(*scriptPath, *workFolder, outsideScript);
  journal.FileCreated(*scriptPath);

  UnpackRecorder recorder(script, journal, *scriptPath);
  UnpackArchives(payload, *workFolder, folders, recorder);
  journal.WorkingOn(static_cast<const char*>(*scriptPath));
  script.Finish(folders);
}

// Takes back what a failed run wrote and tells the user what failed.
int ReportFailure(HWND splash, const RunFailure& failure, RunJournal& journal,
                  const CreatedFolderList& folders, WorkFolder& work) {
  work.Release();  // held, the work folder could not be removed
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

  // The temporary folder and the program's own path as the ANSI file
  // functions name them (their short forms where the code page cannot hold
  // them); without either, the run ends before anything is written.
  const std::wstring tempWide = SystemTemporaryFolder();
  const AnsiPath temp = ToAnsiPath(tempWide, CP_ACP);
  if (!temp.ok) return ReportUnusablePath(splash, kFailTempFolderName, tempWide);
  const std::string tempFolder = temp.ansi;

  const char drive[3] = {tempFolder[0], ':', '\0'};
  const float freeBytes = static_cast<float>(GetFreeSpace(drive));
  if (freeBytes < kRequiredFreeBytes) {
    ReportInsufficientSpace(drive, freeBytes);
    return kExitInsufficientSpace;
  }

  const std::wstring programWide = ModulePath(appInstance);
  const AnsiPath program = ToAnsiPath(programWide, CP_ACP);
  if (!program.ok) return ReportUnusablePath(splash, kFailProgramName, programWide);

  // Every failure from here to the closed script ends the run the same way:
  // what was written is removed, the user is told, the second stage is not
  // started.
  RunJournal journal;
  CreatedFolderList folders;
  WorkFolder work;
  ZkString scriptPath;
  ZkString workFolder;
  std::exception_ptr failure;
  DWORD lastError = 0;
  try {
    UnpackWithCleanupScript(tempFolder, work, folders, journal, &workFolder, &scriptPath);
  } catch (...) {
    lastError = ::GetLastError();
    failure = std::current_exception();
  }
  if (failure) {
    return ReportFailure(splash, DescribeFailure(failure, journal.CurrentFile(), lastError),
                         journal, folders, work);
  }

  _chdir(workFolder);
  const ZkString parameters =
      FormatSecondStageParameters(program.ansi.c_str(), scriptPath, commandTail);

  launchStarted = 1;
  LaunchSecondStage(parameters);
  // The second stage now stands in the work folder (its program file and
  // its current directory are in it), which keeps the folder in place from
  // here on. Standing in the work folder during the final wait, or holding
  // it, would keep the cleanup script, which the second stage may run at
  // once, from removing it.
  work.Release();
  _chdir(tempFolder.c_str());
  ::DestroyWindow(splash);
  FinalWait();
  return kExitSuccess;
}

}  // namespace kv
