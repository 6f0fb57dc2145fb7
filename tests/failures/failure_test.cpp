// Fault injection, end to end: setup executables run into a full drive, a
// read-only temporary folder, a file held open by another process, damaged
// archives and a temporary folder without a free name. Each run must show
// one message that says what failed (none where no user can see it), end
// with the exit code of that kind of failure, not start the second stage,
// and leave nothing of itself behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cwctype>
#include <functional>
#include <string>

#include "launcher/exit_codes.h"
#include "launcher/failure_messages.h"
#include "launcher/run_failure.h"
#include "launcher/work_folder.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "tests/support/machine_temp.h"
#include "tests/support/program_run.h"
#include "tests/support/scoped_folder.h"

namespace kv::test {
namespace {

// The English message for a failure (this test runs with LC_ALL=en_US).
std::wstring Expected(FailureTextId id, const std::string& subject, const std::string& detail) {
  char text[4096];
  std::snprintf(text, sizeof text, kFailureTextTable[id].english, subject.c_str(), detail.c_str());
  return FromCp1252(text);
}

bool StartsWith(const std::wstring& text, const std::wstring& head) {
  return text.compare(0, head.size(), head) == 0;
}

class FailureRun : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(temp_.Remove());
    EXPECT_TRUE(outside_.Remove());
  }

  // Runs `setupVariable`'s executable with `temp` as its temporary folder and
  // checks what every failed run must hold: exit code, `boxes` messages
  // (one, under the caption of message 0, where a user sees the screen),
  // no second stage, nothing left in `temp`.
  ProgramResult RunFailing(const char* setupVariable, const std::string& temp, ExitCode code,
                           std::function<void(DWORD)> whileRunning = nullptr,
                           size_t boxes = 1) {
    const std::string setup = GetEnv(setupVariable);
    EXPECT_FALSE(setup.empty()) << setupVariable << " is not set";
    const std::string before = ListTree(temp);
    ProgramRun run;
    run.program = setup;
    run.currentDirectory = outside_.path();
    run.environment = {{"KV_STAGERUN_RECORD", RecordPath()}};
    run.whileRunning = std::move(whileRunning);
    ProgramResult result;
    {
      ScopedMachineTemp machineTemp(temp);
      result = RunProgram(run);
    }

    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(code));
    EXPECT_EQ(result.boxes.size(), boxes);
    if (!result.boxes.empty()) {
      EXPECT_EQ(result.boxes[0].caption, L"Kalvora Setup");
    }
    ::Sleep(300);  // a second stage, were it started, would have recorded by now
    EXPECT_EQ(::GetFileAttributesA(RecordPath().c_str()), INVALID_FILE_ATTRIBUTES)
        << "the second stage was started";
    EXPECT_EQ(ListTree(temp), before) << "the run left files behind";
    return result;
  }

  std::wstring Text(const ProgramResult& result) {
    return result.boxes.empty() ? std::wstring() : result.boxes[0].text;
  }

  std::string RecordPath() const { return outside_.path() + "record.txt"; }

  ScopedFolder temp_;
  ScopedFolder outside_;
};

TEST_F(FailureRun, DiskThatFillsDuringUnpacking) {
  const std::string drive = GetEnv("KV_FILL_DRIVE");
  if (drive.empty()) GTEST_SKIP() << "no 12 MB drive mapped (needs root to mount a tmpfs)";
  const std::string root = drive + "\\";
  ProgramResult result = RunFailing("KV_FAIL_FILL_EXE", root, kExitCannotWrite);
  EXPECT_EQ(Text(result), Expected(kFailCannotWrite, root + "KVGSetup0\\big2.bin",
                                   SystemErrorText(ERROR_DISK_FULL)));
}

// 1,000 bytes recorded, 200 MB in the stream: the run stops at the record's
// length and refuses the entry as damaged, instead of filling the drive.
TEST_F(FailureRun, EntryThatInflatesFarBeyondItsRecord) {
  const std::string drive = GetEnv("KV_FILL_DRIVE");
  if (drive.empty()) GTEST_SKIP() << "no 12 MB drive mapped (needs root to mount a tmpfs)";
  const std::string root = drive + "\\";
  ULARGE_INTEGER before = {};
  ASSERT_TRUE(::GetDiskFreeSpaceExA(root.c_str(), &before, nullptr, nullptr));
  unsigned long long mostUsed = 0;
  ProgramResult result =
      RunFailing("KV_FAIL_BOMB_EXE", root, kExitDamagedEntry, [&](DWORD) {
        ULARGE_INTEGER now = {};
        if (::GetDiskFreeSpaceExA(root.c_str(), &now, nullptr, nullptr) &&
            before.QuadPart > now.QuadPart && before.QuadPart - now.QuadPart > mostUsed) {
          mostUsed = before.QuadPart - now.QuadPart;
        }
      });
  EXPECT_EQ(Text(result),
            Expected(kFailDamagedEntry, root + "KVGSetup0\\bomb.bin",
                     "the data inflates to more than the 1000 bytes its record gives"));
  EXPECT_LT(mostUsed, 2ull << 20) << "the drive held up to " << mostUsed << " bytes of the run";
}

// A folder path the system cannot create (more than 247 characters) is a
// path too long, found before anything is written.
TEST_F(FailureRun, FolderPathBeyondTheSystemsFolderLimit) {
  std::string temp = temp_.path();
  ASSERT_LT(temp.size(), 39u) << "the test's own folder leaves no room";
  temp += std::string(40 - 1 - temp.size(), 't') + "\\";
  ASSERT_EQ(temp.size(), 40u);
  ASSERT_TRUE(::CreateDirectoryA(temp.c_str(), nullptr));
  const std::string folder = temp + "KVGSetup0\\" + std::string(200, 'F');
  ASSERT_EQ(folder.size(), 250u) << "and the file's path, 256 characters, would fit";
  ProgramResult result = RunFailing("KV_FAIL_LONGFOLDER_EXE", temp, kExitPathTooLong);
  EXPECT_EQ(Text(result), Expected(kFailPathTooLong, folder, ""));
}

// Elevated, no path the run uses leads through a link in the machine's
// temporary folder: the link could be pointed elsewhere between the run's
// steps. On Windows the run then works in the Windows folder's TEMP; Wine
// follows the link into its target, whose own path the run then uses.
// (This payload without StageRun.exe ends the run as a failure that names
// the folder and leaves nothing behind.)
TEST_F(FailureRun, ElevatedRunUsesNoPathThroughALink) {
  const std::string linked = GetEnv("KV_LINKED_TEMP");
  if (linked.empty()) GTEST_SKIP() << "KV_LINKED_TEMP is not set";
  if (!IsElevated()) GTEST_SKIP() << "this process is not elevated";
  const std::string link = linked.substr(0, linked.size() - 1);
  ASSERT_NE(::GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  ProgramResult result = RunFailing("KV_SETUP_EXE", linked, kExitSecondStage);
  std::wstring text = Text(result);
  std::wstring through = Widen(linked);
  for (std::wstring* lower : {&text, &through})
    for (wchar_t& c : *lower) c = static_cast<wchar_t>(::towlower(c));
  EXPECT_NE(text.find(L"kvgsetup"), std::wstring::npos) << std::string(text.begin(), text.end());
  EXPECT_EQ(text.find(through), std::wstring::npos) << std::string(text.begin(), text.end());
}

TEST_F(FailureRun, ReadOnlyTemporaryFolder) {
  const std::string drive = GetEnv("KV_READONLY_DRIVE");
  if (drive.empty()) GTEST_SKIP() << "no read-only drive mapped (needs root to mount a tmpfs)";
  const std::string root = drive + "\\";
  ProgramResult result = RunFailing("KV_SETUP_EXE", root, kExitCannotCreate);
  const std::wstring text = Text(result);
  const std::string folder = root + "KVGSetup0";
  EXPECT_TRUE(text == Expected(kFailCannotCreate, folder, SystemErrorText(ERROR_WRITE_PROTECT)) ||
              text == Expected(kFailCannotCreate, folder, SystemErrorText(ERROR_ACCESS_DENIED)))
      << "shown: " << std::string(text.begin(), text.end()) << "\nwrite protect: "
      << SystemErrorText(ERROR_WRITE_PROTECT) << "\naccess denied: " << SystemErrorText(ERROR_ACCESS_DENIED);
}

// Holds a file of the run open without sharing, as a virus scanner does
// with a file just written, from the moment the run has written it until
// `holdMs` later.
struct Holder {
  std::string file;
  DWORD holdMs;
  bool held = false;
};

DWORD WINAPI HoldFile(void* parameter) {
  auto* holder = static_cast<Holder*>(parameter);
  const DWORD start = ::GetTickCount();
  ScopedFileHandle file;
  // The run's own handle keeps it from opening until the file is written.
  while (!file.IsValid()) {
    if (::GetTickCount() - start > 20000) return 1;
    file.Reset(::CreateFileA(holder->file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  holder->held = true;
  ::Sleep(holder->holdMs);
  return 0;
}

TEST_F(FailureRun, TargetHeldOpenByAnotherProcess) {
  // The launcher writes held.txt, unpacks a 6 MB file and then fails to
  // write held.txt again, which the holder has taken meanwhile; its files
  // can be removed only once the holder lets go, 1.5 s later, which the
  // launcher's retries wait for.
  Holder holder{temp_.path() + "KVGSetup0\\held.txt", 1500};
  ScopedKernelHandle thread(::CreateThread(nullptr, 0, &HoldFile, &holder, 0, nullptr));
  ProgramResult result = RunFailing("KV_FAIL_HELD_EXE", temp_.path(), kExitCannotCreate);
  ::WaitForSingleObject(thread.Get(), 30000);
  ASSERT_TRUE(holder.held) << "the test could not hold the file";
  EXPECT_EQ(Text(result), Expected(kFailCannotCreate, holder.file,
                                   SystemErrorText(ERROR_SHARING_VIOLATION)));
}

// Entries of up to 8 MiB are inflated whole, larger ones in steps: damage
// reads the same either way.
TEST_F(FailureRun, ArchivesWithADamagedEntry) {
  for (const char* setup : {"KV_FAIL_FLIPPED_EXE", "KV_FAIL_TRUNCATED_EXE",
                            "KV_FAIL_FLIPPED_LARGE_EXE", "KV_FAIL_TRUNCATED_LARGE_EXE"}) {
    ProgramResult result = RunFailing(setup, temp_.path(), kExitDamagedEntry);
    EXPECT_EQ(Text(result), Expected(kFailDamagedEntry, temp_.path() + "KVGSetup0\\text.txt",
                                     "the compressed data is damaged or truncated"))
        << setup;
  }
}

// Where no user can see the window station, no box waits for a click: the
// run ends with the exit code it would have ended with after the message
// (a damaged entry; too little space, before anything is written).
TEST_F(FailureRun, NoBoxWhereTheWindowStationIsInvisible) {
  RunFailing("KV_INVISIBLE_STATION_EXE", temp_.path(), kExitDamagedEntry, nullptr, 0);
  const std::string drive = GetEnv("KV_SMALL_DRIVE");
  if (drive.empty()) GTEST_SKIP() << "no small drive mapped (needs root to mount a tmpfs)";
  RunFailing("KV_INVISIBLE_STATION_EXE", drive + "\\", kExitInsufficientSpace, nullptr, 0);
}

TEST_F(FailureRun, ArchivesThatTheReaderRefuses) {
  const std::wstring head =
      L"The setup program is damaged: its archive SETUPBASE cannot be read.\n(";
  const std::wstring tail = L")\nPlease download the setup program again.";
  for (const char* setup : {"KV_FAIL_OUTSIDE_EXE", "KV_FAIL_DOTDOT_EXE"}) {
    ProgramResult result = RunFailing(setup, temp_.path(), kExitDamagedArchive);
    const std::wstring text = Text(result);
    EXPECT_TRUE(StartsWith(text, head)) << setup;
    EXPECT_TRUE(text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0)
        << setup;
  }
}

// A temporary folder that holds 0.bat to 32767.bat: whatever numbers the
// generator draws, all are taken. The test runner makes it from the build
// machine's side, where creating 32,768 files takes a moment (under Wine
// each creation searches the whole folder).
TEST_F(FailureRun, EveryCandidateNameTaken) {
  const std::string full = GetEnv("KV_NAMES_TAKEN_TEMP");
  if (full.empty()) GTEST_SKIP() << "KV_NAMES_TAKEN_TEMP is not set";
  ASSERT_NE(::GetFileAttributesA((full + "32767.bat").c_str()), INVALID_FILE_ATTRIBUTES);
  ProgramResult result = RunFailing("KV_SETUP_EXE", full, kExitNoFreeName);
  EXPECT_EQ(Text(result), Expected(kFailNoFreeName, full, ""));
}

}  // namespace
}  // namespace kv::test
