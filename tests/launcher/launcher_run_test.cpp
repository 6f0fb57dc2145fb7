// End-to-end runs of the built setup executable, started the way a user
// starts it: its own process, a temporary folder of the test's choosing,
// message boxes read from the screen and answered. Under Wine every run is
// elevated: the temporary folder is the machine's, and the user's own
// TMP/TEMP (a decoy folder here) must stay untouched.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "launcher/exit_codes.h"
#include "launcher/run_failure.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "tests/support/machine_temp.h"
#include "tests/support/program_run.h"
#include "tests/support/scoped_folder.h"

namespace kv::test {
namespace {

const char kParametersHead[] =
    "KVSetup SetupProgram=VIVivir Wnd=Normal Server=None Wnd=Maximized ResourceFile=\"";

// The command line without the program name and the blanks after it, by
// the C runtime's rule.
std::string CommandTail(const std::string& commandLine) {
  size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    i = commandLine.find('"', 1);
    i = i == std::string::npos ? commandLine.size() : i + 1;
  } else {
    while (i < commandLine.size() && static_cast<unsigned char>(commandLine[i]) > ' ') ++i;
  }
  while (i < commandLine.size() && static_cast<unsigned char>(commandLine[i]) <= ' ' &&
         commandLine[i] != '\0')
    ++i;
  return commandLine.substr(i);
}

// One value of the stand-in's record ("Key=value" lines).
std::string RecordValue(const std::string& record, const std::string& key) {
  const std::string head = key + "=";
  size_t at = record.find(head);
  if (at == std::string::npos) return "<missing " + key + ">";
  at += head.size();
  return record.substr(at, record.find("\r\n", at) - at);
}

// Runs of two setup executables: one whose payload is the stand-in second
// stage and holdproc alone, and one without any archive.
class LauncherRun : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_ = GetEnv("KV_STAGE_SETUP_EXE");
    bareSetup_ = GetEnv("KV_SETUP_EXE");
    ASSERT_FALSE(setup_.empty()) << "KV_STAGE_SETUP_EXE is not set";
    ASSERT_FALSE(bareSetup_.empty()) << "KV_SETUP_EXE is not set";
    machineTemp_.reset(new ScopedMachineTemp(temp_.path()));
  }

  void TearDown() override {
    machineTemp_.reset();
    EXPECT_EQ(ListTree(userTemp_.path()), "") << "the run wrote to the user's TEMP";
    EXPECT_TRUE(temp_.Remove()) << "a file of the run is still held open";
    EXPECT_TRUE(userTemp_.Remove());
    EXPECT_TRUE(outside_.Remove());
  }

  // A run with the test's temporary folder; the stand-in second stage
  // records what it received outside of it and then runs the cleanup
  // script, which empties the temporary folder again.
  ProgramRun Run(const std::string& tail, bool withSecondStage = true) {
    ProgramRun run;
    run.program = withSecondStage ? setup_ : bareSetup_;
    run.commandTail = tail;
    run.currentDirectory = outside_.path();
    run.environment = {{"TMP", userTemp_.path()},
                       {"TEMP", userTemp_.path()},
                       {"KV_STAGERUN_RECORD", RecordPath()}};
    return run;
  }

  std::string RecordPath() const { return outside_.path() + "received.txt"; }

  std::string setup_;
  std::string bareSetup_;
  ScopedFolder temp_;      // the machine's temporary folder
  ScopedFolder userTemp_;  // the user's TMP and TEMP
  ScopedFolder outside_;
  std::unique_ptr<ScopedMachineTemp> machineTemp_;
};

// --- An open setup window ---------------------------------------------------

class OpenSetupWindow {
 public:
  explicit OpenSetupWindow(const char* title) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = &::DefWindowProcA;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "AfxFrameOrView42";
    ::RegisterClassA(&windowClass);
    window_ = ::CreateWindowA("AfxFrameOrView42", title, WS_OVERLAPPEDWINDOW, 10, 10, 300, 200,
                              nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ::ShowWindow(window_, SW_MINIMIZE);
  }
  ~OpenSetupWindow() { ::DestroyWindow(window_); }
  HWND get() const { return window_; }

 private:
  HWND window_;
};

TEST_F(LauncherRun, OpenSetupWindowIsRestoredAndNothingIsWritten) {
  OpenSetupWindow open("Kalvora Setup");
  ASSERT_TRUE(::IsIconic(open.get()));

  ProgramResult result = RunProgram(Run("tail"));

  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(::IsIconic(open.get())) << "the open setup window was not restored";
  EXPECT_TRUE(result.boxes.empty());
  EXPECT_EQ(ListTree(temp_.path()), "") << "the launcher wrote to the temporary folder";
  EXPECT_EQ(::GetFileAttributesA(RecordPath().c_str()), INVALID_FILE_ATTRIBUTES)
      << "the second stage was started";
}

TEST_F(LauncherRun, WindowOfThatClassWithAnotherTitleDoesNotStopTheLauncher) {
  OpenSetupWindow open("Installazione Kalvora");

  ProgramResult result = RunProgram(Run(""));

  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(::IsIconic(open.get()));
  EXPECT_TRUE(WaitForFile(RecordPath(), 10000)) << "the second stage was not started";
  EXPECT_TRUE(CleanupFinished(temp_.path())) << ListTree(temp_.path());
}

// --- The second stage's parameters -----------------------------------------

struct TailCase {
  const char* tail;
};

class SecondStageParameters : public LauncherRun,
                              public ::testing::WithParamInterface<TailCase> {};

TEST_P(SecondStageParameters, ReachTheSecondStageCharacterForCharacter) {
  const std::string tail = GetParam().tail;
  ProgramResult result = RunProgram(Run(tail));

  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(result.boxes.empty());
  ASSERT_TRUE(WaitForFile(RecordPath(), 10000)) << "the second stage was not started";
  std::string record;
  ASSERT_TRUE(ReadWholeFile(RecordPath(), &record));

  const std::string expected = std::string(kParametersHead) + setup_ + "\" CleanUp=\"" +
                               temp_.path() + "0.bat\" " + tail;
  EXPECT_EQ(CommandTail(RecordValue(record, "CommandLine")), expected) << "tail: [" << tail << "]";
  EXPECT_EQ(RecordValue(record, "CurrentDirectory"), temp_.path() + "KVGSetup0");
  EXPECT_TRUE(CleanupFinished(temp_.path())) << ListTree(temp_.path());
}

INSTANTIATE_TEST_SUITE_P(Tails, SecondStageParameters,
                         ::testing::Values(TailCase{""}, TailCase{"/S  two  blanks"},
                                           TailCase{"\"C:\\My Files\\x.txt\" \"\" q\"uo\"te"},
                                           TailCase{"100% %PATH% %s %d %%"}));

// Without StageRun.exe in the work folder nothing else of that name is
// started (not the one in the current directory, not the one on the PATH):
// the run ends as a failure and takes back what it wrote.
TEST_F(LauncherRun, MissingSecondStageEndsTheRunAndStartsNothingElse) {
  const std::string decoy = GetEnv("KV_STAGERUN_EXE");
  ASSERT_FALSE(decoy.empty()) << "KV_STAGERUN_EXE is not set";
  ScopedFolder onPath;
  ASSERT_TRUE(::CopyFileA(decoy.c_str(), (onPath.path() + "StageRun.exe").c_str(), FALSE));
  ASSERT_TRUE(::CopyFileA(decoy.c_str(), (outside_.path() + "StageRun.exe").c_str(), FALSE));
  ProgramRun run = Run("", /*withSecondStage=*/false);
  run.environment.push_back({"PATH", onPath.path() + ";" + GetEnv("PATH")});
  ProgramResult result = RunProgram(run);

  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitSecondStage));
  ASSERT_EQ(result.boxes.size(), 1u);
  EXPECT_EQ(result.boxes[0].caption, L"Kalvora Setup");
  EXPECT_NE(result.boxes[0].text.find(Widen(temp_.path() + "KVGSetup0\\StageRun.exe")),
            std::wstring::npos);
  ::Sleep(300);
  EXPECT_EQ(::GetFileAttributesA(RecordPath().c_str()), INVALID_FILE_ATTRIBUTES)
      << "another StageRun.exe was started";
  EXPECT_EQ(ListTree(temp_.path()), "") << "the failed run left files behind";
  EXPECT_TRUE(::DeleteFileA((outside_.path() + "StageRun.exe").c_str()));
  EXPECT_TRUE(onPath.Remove());
}

// --- The setup file --------------------------------------------------------

// From the launch until the second stage ends nobody can change, rename or
// delete the file ResourceFile= names, not even once the launcher has
// ended; the second stage reads it whole, and once it has ended the file
// can be moved again. Started through a folder link (which its owner could
// point elsewhere), ResourceFile= names the file the link led to.
TEST_F(LauncherRun, TheSetupFileIsHeldUntilTheSecondStageEnds) {
  const std::string linked = GetEnv("KV_LINKED_TEMP");  // "...\\linked-temp\\", a link
  const struct {
    std::string started;  // the folder the setup is started from
    std::string held;     // the folder ResourceFile= names
  } cases[] = {
      {outside_.path(), outside_.path()},
      {linked, linked.empty() ? "" : linked.substr(0, linked.size() - 5) + "target\\"},
  };
  for (const auto& c : cases) {
    if (c.started.empty()) continue;  // no link made (run-tests makes one)
    const std::string copy = c.started + "Setup.exe";
    ASSERT_TRUE(::CopyFileA(setup_.c_str(), copy.c_str(), FALSE)) << copy;
    ::DeleteFileA(RecordPath().c_str());
    ProgramRun run = Run("");
    run.program = copy;
    run.environment.push_back({"KV_STAGERUN_PROBE_SETUP", "1"});
    ProgramResult result = RunProgram(run);

    ASSERT_TRUE(result.finished) << copy;
    EXPECT_EQ(result.exitCode, 0u) << copy;
    ASSERT_TRUE(WaitForFile(RecordPath(), 70000)) << "the second stage did not end its probe";
    std::string record;
    ASSERT_TRUE(ReadWholeFile(RecordPath(), &record));
    EXPECT_EQ(RecordValue(record, "\nResourceFile"), c.held + "Setup.exe");
    for (const char* attempt : {"SetupWrite", "SetupRename", "SetupDelete"}) {
      EXPECT_EQ(RecordValue(record, attempt), "refused 32") << copy << ": " << attempt;
    }
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(copy, &bytes));
    EXPECT_EQ(RecordValue(record, "SetupRead"), std::to_string(bytes.size())) << copy;
    // The script's holdproc line waited for the second stage to end.
    EXPECT_TRUE(CleanupFinished(temp_.path())) << ListTree(temp_.path());
    const std::string moved = c.started + "moved.exe";
    EXPECT_TRUE(::MoveFileA(copy.c_str(), moved.c_str())) << copy << ": " << ::GetLastError();
    EXPECT_TRUE(::DeleteFileA(moved.c_str()));
  }
}

// A setup file that is not the running program any more, or that another
// program has open for writing, ends the run before anything is written:
// exit code 14 and the message in the user's language, naming the file.
TEST_F(LauncherRun, ASetupFileReplacedOrInUseBeforeTheHoldEndsTheRunWithFourteen) {
  const std::string copy = outside_.path() + "Setup.exe";
  const std::string away = outside_.path() + "renamed.exe";
  ScopedFileHandle writer;
  const struct {
    const char* what;
    std::function<void()> meanwhile;
  } cases[] = {
      // Renamed while it runs (the system allows it) and a byte-identical
      // copy put in its place: a path and the bytes prove nothing.
      {"replaced",
       [&] {
         EXPECT_TRUE(::MoveFileA(copy.c_str(), away.c_str()));
         EXPECT_TRUE(::CopyFileA(away.c_str(), copy.c_str(), TRUE));
       }},
      // Held by another program that shares no access (the system refuses
      // writing to a running program's file, so such a handle stands in for
      // one open for writing).
      {"held without sharing",
       [&] {
         writer.Reset(::CreateFileA(copy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
         EXPECT_TRUE(writer.IsValid()) << ::GetLastError();
       }},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(::CopyFileA(setup_.c_str(), copy.c_str(), FALSE)) << c.what;
    ProgramRun run = Run("");
    run.program = copy;
    run.whileSuspended = c.meanwhile;
    ProgramResult result = RunProgram(run);

    ASSERT_TRUE(result.finished) << c.what;
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitSetupFileChanged)) << c.what;
    ASSERT_EQ(result.boxes.size(), 1u) << c.what;
    EXPECT_EQ(result.boxes[0].caption, L"Kalvora Setup");
    EXPECT_EQ(result.boxes[0].text, WidePathFailureMessage(kFailSetupFileChanged, Widen(copy)))
        << c.what;
    EXPECT_EQ(ListTree(temp_.path()), "") << c.what << ": the run wrote to the temporary folder";
    EXPECT_EQ(::GetFileAttributesA(RecordPath().c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
    writer.Reset();
    ::DeleteFileA(away.c_str());
    EXPECT_TRUE(::DeleteFileA(copy.c_str())) << c.what << ": " << ::GetLastError();
  }
}

// --- Too little free space --------------------------------------------------

// Message 5 on drive T: with 5 MB free, and message 0, in each language as
// the screen must show them (Windows-1252).
struct LanguageTexts {
  uint16_t primaryLanguage;
  const char* caption;
  const char* text;
};
const LanguageTexts kInsufficientSpaceTexts[] = {
    {0x09, "Kalvora Setup",
     "Insufficient space on drive T: to run setup!\n"
     "(10.0 MB required, only 5.0 MB available)"},
    {0x07, "Kalvora Setup",
     "Nicht gen\xFCgend freier Platz auf Laufwerk T:, um Setup laufen zu lassen!\n"
     "(10.0 MB ben\xF6tigt, nur 5.0 MB vorhanden)"},
    {0x0C, "Installation de Kalvora",
     "Espace insuffisant pour lancer l'installation sur le disque T: !\n"
     "(10.0 Mo n\xE9" "cessaires, seulement 5.0 Mo de disponible)"},
    {0x10, "Installazione Kalvora",
     "Spazio insufficiente sul disco T: per lanciare l'installazione!\n"
     "(richiesti 10.0 MB, disponibili solo 5.0 MB)"},
};

// The launcher inherits this process's user language (Wine takes it from
// LC_ALL at process start; CTest runs this test once per language).
TEST_F(LauncherRun, InsufficientSpaceShowsMessageFiveInTheUsersLanguageAndEndsWithOne) {
  const std::string drive = GetEnv("KV_SMALL_DRIVE");
  if (drive.empty()) GTEST_SKIP() << "no small drive mapped (needs root to mount a tmpfs)";
  const std::string root = drive + "\\";
  ASSERT_EQ(ListTree(root), "") << "the small drive is not empty";
  const uint16_t language = ::GetUserDefaultLangID() & 0x3FF;
  const LanguageTexts* expected = &kInsufficientSpaceTexts[0];
  for (const LanguageTexts& texts : kInsufficientSpaceTexts)
    if (texts.primaryLanguage == language) expected = &texts;
  const std::string wanted = GetEnv("KV_EXPECT_LANGUAGE");
  if (!wanted.empty()) {
    ASSERT_EQ(language, std::stoul(wanted, nullptr, 16)) << "LC_ALL did not set the language";
  }

  ScopedMachineTemp smallDrive(root);
  ProgramResult result = RunProgram(Run(""));

  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 1u);
  ASSERT_EQ(result.boxes.size(), 1u);
  EXPECT_EQ(result.boxes[0].caption, FromCp1252(expected->caption));
  EXPECT_EQ(result.boxes[0].text, FromCp1252(expected->text));
  EXPECT_EQ(ListTree(root), "") << "the launcher wrote to the small drive";
  EXPECT_EQ(::GetFileAttributesA(RecordPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace kv::test
