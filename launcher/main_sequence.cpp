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
#include "launcher/message_box.h"
#include "launcher/message_pump.h"
#include "launcher/free_space.h"
#include "launcher/message_table.h"
#include "launcher/run_failure.h"
#include "launcher/run_journal.h"
#include "launcher/second_stage.h"
#include "launcher/setup_file.h"
#include "launcher/temp_folder.h"
#include "launcher/unique_name.h"
#include "launcher/work_folder.h"
#include "platform/system_library.h"
#include "splash/shared_state.h"
#include "splash/splash_window.h"
#include "zkstring/zk_string.h"

namespace kv {
namespace {

// Shows the splash and dispatches messages until it has painted once (or
// could not be created), for at most kFirstPaintWaitMs.
HWND ShowSplash() {
  splashPending = 1;
  HWND splash = CreateSplash();
  PumpWhile(splashPending, kFirstPaintWaitMs);
  return splash;
}

// Tells the user that `drive` lacks room; the message box waits for OK.
void ReportInsufficientSpace(const char* drive, float freeBytes) {
  runEnding = 1;
  ZkString text;
  text.Format(GetMsgText(kMsgInsufficientSpace), drive, kRequiredFreeBytes / 1048576.0,
              static_cast<double>(freeBytes) / 1048576.0);
  ShowMessage(text, GetMsgText(kMsgTitle), MB_TOPMOST);
}

// Tells the user that `path` cannot be used, before anything is written.
// The message names the path in full Unicode: the ANSI code page may be
// what cannot hold it.
int ReportUnusablePath(HWND splash, FailureTextId text, const std::wstring& path, ExitCode code) {
  runEnding = 1;
  ::DestroyWindow(splash);
  ShowMessage(WidePathFailureMessage(text, path), FromWindows1252(GetMsgText(kMsgTitle)),
              MB_OK | MB_ICONERROR | MB_TOPMOST);
  return code;
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

[[noreturn]] void FailUnprotected(const std::string& tempFolder) {
  RunFailure failure;
  failure.exitCode = kExitUnprotectedTemp;
  failure.text = kFailUnprotectedTemp;
  failure.subject = tempFolder;
  throw RunError(failure);
}

[[noreturn]] void FailCannotCreate(const char* path, DWORD error) {
  RunFailure failure;
  failure.exitCode = kExitCannotCreate;
  failure.text = kFailCannotCreate;
  failure.subject = path;
  failure.detail = SystemErrorText(error);
  throw RunError(failure);
}

// Takes the work folder: the first free "KVGSetup<n>" of the temporary
// folder (open as `root`), created and held in one step (protected when
// elevated). When another process takes the chosen name in between, the
// next free name is taken. Before each creation every path the run will
// need below that name is checked, so a payload whose paths cannot fit is
// refused before anything is written. Returns the folder path with its
// backslash.
ZkString TakeWorkFolder(const TempFolder& root, const std::string& tempFolder,
                        const std::vector<PayloadArchive>& payload, bool protect, WorkFolder& work,
                        CreatedFolderList& folders, RunJournal& journal) {
  for (int attempt = 0;; ++attempt) {
    const ZkString name = ChooseName(tempFolder, "KVGSetup%d");
    const std::string folder = std::string(name) + "\\";
    CheckTargetPaths(payload, folder, std::string());
    journal.WorkingOn(static_cast<const char*>(name));
    DWORD error = 0;
    switch (work.Create(root.Handle(), FileName(name), protect, &error)) {
      case CreateOutcome::kCreated:
        folders.push_front(name);
        return ZkString(folder.c_str());
      case CreateOutcome::kUnprotected:
        folders.push_front(name);
        FailUnprotected(tempFolder);
      case CreateOutcome::kNameTaken:
        if (attempt + 1 >= kUniqueNameAttempts) FailNoFreeName(tempFolder);
        break;
      case CreateOutcome::kFailed:
        FailCannotCreate(name, error);
    }
  }
}

// Takes the cleanup script beside the work folder: `name` (chosen before
// the work folder's name), else, when another process took it in between,
// the next free name; created new and open for writing (protected when
// elevated). Returns its path; `*file` holds it.
ZkString TakeScript(const TempFolder& root, const std::string& tempFolder, ZkString name,
                    bool protect, RunJournal& journal, ScopedKernelHandle* file) {
  for (int attempt = 0;; ++attempt) {
    journal.WorkingOn(static_cast<const char*>(name));
    DWORD error = 0;
    switch (CreateInFolder(root.Handle(), FileName(name), false, protect, file, &error)) {
      case CreateOutcome::kCreated:
        journal.FileCreated(name);
        return name;
      case CreateOutcome::kUnprotected:
        journal.FileCreated(name);
        file->Reset();
        FailUnprotected(tempFolder);
      case CreateOutcome::kNameTaken:
        if (attempt + 1 >= kUniqueNameAttempts) FailNoFreeName(tempFolder);
        name = ChooseName(tempFolder, "%d.bat");
        break;
      case CreateOutcome::kFailed:
        FailCannotCreate(name, error);
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

// Takes the work folder and the cleanup script beside it, writes the
// script while unpacking every archive, and closes it. Everything written
// is recorded in `journal` and `folders` as soon as this run has created
// it. Returns the work folder path (with its backslash) in `*workFolder`
// and the script's in `*scriptPath`.
void UnpackWithCleanupScript(const TempFolder& root, const std::string& tempFolder, bool protect,
                             WorkFolder& work, CreatedFolderList& folders, RunJournal& journal,
                             PausePoint& pauses, ZkString* workFolder, ZkString* scriptPath) {
  const std::vector<PayloadArchive> payload = ReadPayload(appInstance);
  // The script's name is chosen first, so its search seeds the generator.
  const ZkString scriptName = ChooseName(tempFolder, "%d.bat");
  *workFolder = TakeWorkFolder(root, tempFolder, payload, protect, work, folders, journal);
  ScopedKernelHandle scriptFile;
  *scriptPath = TakeScript(root, tempFolder, scriptName, protect, journal, &scriptFile);
  CleanupScript script(std::move(scriptFile), *scriptPath, *workFolder);

  UnpackRecorder recorder(script, journal, *scriptPath);
  UnpackArchives(payload, *workFolder, folders, recorder, &pauses);
  pauses.Pause();
  journal.WorkingOn(static_cast<const char*>(*scriptPath));
  script.Finish(folders);
}

// Removes what a run that ends before the launch wrote, the splash still
// serviced meanwhile; returns what could not be removed.
std::vector<std::string> TakeBack(RunJournal& journal, const CreatedFolderList& folders,
                                  WorkFolder& work) {
  runEnding = 1;
  work.Release();  // held, the work folder could not be removed
  MessagePauses pauses(false);
  return journal.Undo(folders, &pauses);
}

// Takes back what a failed run wrote and tells the user what failed.
int ReportFailure(HWND splash, const RunFailure& failure, RunJournal& journal,
                  const CreatedFolderList& folders, WorkFolder& work) {
  const std::vector<std::string> left = TakeBack(journal, folders, work);
  ::DestroyWindow(splash);
  ShowMessage(FailureMessage(failure, left), GetMsgText(kMsgTitle),
              MB_OK | MB_ICONERROR | MB_TOPMOST);
  return failure.exitCode;
}

// Takes back what a run that the user cancelled wrote. Says nothing unless
// something could not be removed; then one message names it.
int EndCancelled(HWND splash, RunJournal& journal, const CreatedFolderList& folders,
                 WorkFolder& work) {
  const std::vector<std::string> left = TakeBack(journal, folders, work);
  ::DestroyWindow(splash);
  if (!left.empty()) {
    ShowMessage(LeftBehindMessage(left), GetMsgText(kMsgTitle), MB_OK | MB_ICONERROR | MB_TOPMOST);
  }
  return kExitCancelled;
}

// Lets the splash end (it does when it loses the focus after the launch)
// for at most kFinalWaitMs.
void FinalWait() { PumpWhile(splashAlive, kFinalWaitMs); }

}  // namespace

bool BringOpenSetupForward() {
  HWND open = ::FindWindowA(kSetupWindowClass, kSetupWindowTitle);
  if (!open) return false;
  if (::IsIconic(open)) ::ShowWindow(open, SW_RESTORE);
  ::SetForegroundWindow(open);
  return true;
}

int RunMainSequence(HINSTANCE instance, const char* commandTail) {
  appInstance = instance;
  if (BringOpenSetupForward()) return kExitSuccess;

  HWND splash = ShowSplash();
  // The run's pauses: they dispatch the splash's messages while the run
  // works, and stop it where the user has answered Yes to the close
  // question. A Yes before the unpacking finds nothing written.
  MessagePauses pauses(true);

  // Elevated, the machine's temporary folder; otherwise the user's. Held
  // open from here until the second stage has started.
  const bool elevated = IsElevated();
  TempFolder root;
  std::wstring refused;
  DWORD openError = 0;
  if (!OpenRunTempFolder(elevated, ReadMachineEnvironmentValue, &root, &refused, &openError)) {
    if (elevated) {
      return ReportUnusablePath(splash, kFailUnprotectedTemp, refused, kExitUnprotectedTemp);
    }
    RunFailure failure;
    failure.exitCode = kExitCannotCreate;
    failure.text = kFailCannotCreate;
    failure.subject = ToAnsiPath(refused, CP_ACP).ansi;
    failure.detail = SystemErrorText(openError);
    RunJournal nothing;
    WorkFolder none;
    return ReportFailure(splash, failure, nothing, CreatedFolderList(), none);
  }

  // The temporary folder and the program's own path as the ANSI file
  // functions name them (their short forms where the code page cannot hold
  // them; the temporary folder's also where the OEM code page of the
  // cleanup script cannot); without either, the run ends before anything
  // is written.
  const AnsiPath temp = ToAnsiAndOemPath(root.Path(), CP_ACP, CP_OEMCP);
  if (!temp.ok) {
    return ReportUnusablePath(splash, kFailTempFolderName, root.Path(), kExitUnusablePath);
  }
  const std::string tempFolder = temp.ansi;

  const char drive[3] = {tempFolder[0], ':', '\0'};
  DispatchWaitingMessages();
  if (cancelRequested) {
    ::DestroyWindow(splash);
    return kExitCancelled;
  }
  const float freeBytes = static_cast<float>(GetFreeSpace(drive));
  if (freeBytes < kRequiredFreeBytes) {
    ReportInsufficientSpace(drive, freeBytes);
    return kExitInsufficientSpace;
  }

  // The setup file, held from here until the second stage holds it: the
  // file the image was mapped from, which ResourceFile= names, opened so
  // that nobody can write, rename or delete it. A file that is not the
  // image any more, or that another program has open for writing, ends
  // the run before anything is written.
  const std::wstring modulePath = ModulePath(appInstance);
  SetupFile setupFile;
  if (!setupFile.Hold(appInstance, modulePath)) {
    return ReportUnusablePath(splash, kFailSetupFileChanged, modulePath, kExitSetupFileChanged);
  }
  const std::wstring programWide = setupFile.Path();
  const AnsiPath program = ToAnsiPath(programWide, CP_ACP);
  if (!program.ok) {
    return ReportUnusablePath(splash, kFailProgramName, programWide, kExitUnusablePath);
  }

  // Every failure from here to the started second stage ends the run the
  // same way: what was written is removed, the user is told, and nothing
  // is left for a second stage that will never run the script.
  RunJournal journal;
  CreatedFolderList folders;
  WorkFolder work;
  ZkString scriptPath;
  ZkString workFolder;
  std::exception_ptr failure;
  DWORD lastError = 0;
  try {
    UnpackWithCleanupScript(root, tempFolder, elevated, work, folders, journal, pauses,
                            &workFolder, &scriptPath);
  } catch (const RunCancelled&) {
    return EndCancelled(splash, journal, folders, work);
  } catch (...) {
    lastError = ::GetLastError();
    failure = std::current_exception();
  }
  if (failure) {
    return ReportFailure(splash, DescribeFailure(failure, journal.CurrentFile(), lastError),
                         journal, folders, work);
  }

  // The StageRun.exe this run unpacked, by its full path: nothing else of
  // that name, in no other folder, is ever started.
  RunFailure launchFailure;
  launchFailure.exitCode = kExitSecondStage;
  launchFailure.text = kFailSecondStage;
  launchFailure.subject = std::string(workFolder) + kSecondStageProgram;
  if (_chdir(workFolder) != 0) {
    launchFailure.detail = SystemErrorText(::GetLastError());
    return ReportFailure(splash, launchFailure, journal, folders, work);
  }
  const ZkString parameters =
      FormatSecondStageParameters(program.ansi.c_str(), scriptPath, commandTail);

  // The last question answered before the launch; from here to it nothing
  // is dispatched.
  DispatchWaitingMessages();
  if (cancelRequested) {
    _chdir(tempFolder.c_str());
    return EndCancelled(splash, journal, folders, work);
  }
  launchStarted = 1;
  const DWORD launchError = LaunchSecondStage(launchFailure.subject.c_str(), parameters,
                                              workFolder, setupFile.Handle());
  // The second stage holds its own copy of the handle (or was not started).
  setupFile.Release();
  // Standing in the work folder during the final wait, or holding it,
  // would keep the cleanup script, which the second stage may run at once,
  // from removing it (and a failed run from removing it itself).
  _chdir(tempFolder.c_str());
  if (launchError != 0) {
    launchFailure.detail = SystemErrorText(launchError);
    return ReportFailure(splash, launchFailure, journal, folders, work);
  }
  // The second stage now stands in the work folder (its program file and
  // its current directory are in it), which keeps the folder in place from
  // here on.
  work.Release();
  root.Release();
  ::DestroyWindow(splash);
  FinalWait();
  return kExitSuccess;
}

}  // namespace kv
