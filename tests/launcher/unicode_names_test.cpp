// Users whose names lie outside the ANSI code page: their temporary folder,
// or the folder the setup program was started from, is named in Cyrillic or
// Chinese. The launcher hands on and writes short forms, which name the same
// folders; the script, run by cmd, removes everything. (A folder without
// any form the code pages hold ends the run before it writes anything; Wine
// gives every existing folder a short form, so that rule is tested with
// injected short forms in ansi_path_test.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/exit_codes.h"
#include "launcher/failure_messages.h"
#include "launcher/run_failure.h"
#include "platform/win32.h"
#include "tests/support/machine_temp.h"
#include "tests/support/program_run.h"
#include "tests/support/scoped_folder.h"

namespace kv::test {
namespace {

const wchar_t kCyrillic[] = L"\x042e\x043d\x0438\x043a\x043e\x0434";        // Юникод
const wchar_t kChinese[] = L"\x65E5\x672C\x8A9E";                            // 日本語
const wchar_t kBoth[] = L"\x042e\x043d\x0438\x043a\x043e\x0434 \x65E5\x672C\x8A9E";

std::string Ansi(const wchar_t* path) {
  char ansi[MAX_PATH * 2];
  BOOL lossy = FALSE;
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, ansi, sizeof ansi, nullptr,
                        &lossy);
  return lossy ? std::string() : std::string(ansi);
}

// The path as the ANSI code page holds it, else its short form.
std::string AnsiForm(const std::wstring& path) {
  const std::string plain = Ansi(path.c_str());
  if (!plain.empty()) return plain;
  wchar_t shortPath[MAX_PATH];
  const DWORD n = ::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  return n == 0 || n >= MAX_PATH ? std::string() : Ansi(shortPath);
}

std::vector<std::string> Values(const std::string& record, const std::string& key) {
  std::vector<std::string> values;
  const std::string head = key + "=";
  for (size_t at = 0; (at = record.find(head, at)) != std::string::npos; at += head.size()) {
    if (at != 0 && record[at - 1] != '\n') continue;
    const size_t start = at + head.size();
    values.push_back(record.substr(start, record.find("\r\n", start) - start));
  }
  return values;
}

class UnicodeNames : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_ = GetEnv("KV_STAGE_SETUP_EXE");
    ASSERT_FALSE(setup_.empty());
    // Only a language's texts make the checks of the message mean what
    // they say: the process runs in the language the build asked for.
    const std::string expected = GetEnv("KV_EXPECT_LANGUAGE");
    ASSERT_EQ(std::stoi(expected, nullptr, 16), ::GetUserDefaultLangID() & 0x3FF);
  }
  void TearDown() override { EXPECT_TRUE(root_.Remove()) << "a file is still held open"; }

  // A folder below the test's folder, named in Unicode; with a backslash.
  std::wstring MakeFolder(const std::wstring& name) {
    const std::wstring path = Widen(root_.path()) + name + L"\\";
    EXPECT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
    return path;
  }

  ProgramResult Run(const std::wstring& program, const std::wstring& temp) {
    ProgramRun run;
    run.wideProgram = program;
    run.environment = {{"KV_STAGERUN_RECORD", RecordPath()}};
    ScopedMachineTemp machineTemp(temp);
    ::DeleteFileA(RecordPath().c_str());
    return RunProgram(run);
  }

  std::string RecordPath() const { return root_.path() + "record.txt"; }

  // One whole install cycle: the second stage gets paths that exist, the
  // script names them, and nothing is left once it has run.
  void ExpectWholeCycle(const std::wstring& program, const std::wstring& temp) {
    ProgramResult result = Run(program, temp);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(result.boxes.empty());
    ASSERT_TRUE(WaitForFile(RecordPath(), 10000)) << "the second stage did not start";
    std::string record;
    ASSERT_TRUE(ReadWholeFile(RecordPath(), &record));

    const std::string shortTemp = AnsiForm(temp);
    const std::string shortProgram = AnsiForm(program);
    ASSERT_FALSE(shortTemp.empty());
    EXPECT_EQ(Values(record, "ResourceFile"), std::vector<std::string>{shortProgram});
    EXPECT_EQ(Values(record, "CleanUp"),
              std::vector<std::string>{shortTemp + "0.bat"});
    EXPECT_EQ(Values(record, "CurrentDirectory"),
              std::vector<std::string>{shortTemp + "KVGSetup0"});
    EXPECT_EQ(Values(record, "Archive"), std::vector<std::string>{}) << "no archive is left";
    const std::vector<std::string> script = Values(record, "Script");
    ASSERT_FALSE(script.empty());
    for (const std::string& line : script) {
      EXPECT_EQ(line.find('?'), std::string::npos) << line;
    }
    EXPECT_TRUE(CleanupFinished(shortTemp)) << ListTree(shortTemp);
  }

  std::string setup_;
  ScopedFolder root_;
};

TEST_F(UnicodeNames, TemporaryFolderOutsideTheCodePage) {
  const std::wstring temp = MakeFolder(kBoth);
  ExpectWholeCycle(Widen(setup_), temp);
}

TEST_F(UnicodeNames, ProgramStartedFromAFolderOutsideTheCodePage) {
  const std::wstring downloads = MakeFolder(kCyrillic);
  const std::wstring program = downloads + kChinese + L".exe";
  ASSERT_TRUE(::CopyFileW(Widen(setup_).c_str(), program.c_str(), TRUE));
  const std::wstring temp = MakeFolder(L"temp");
  ExpectWholeCycle(program, temp);
  ASSERT_TRUE(::DeleteFileW(program.c_str()));
}

TEST_F(UnicodeNames, BothOutsideTheCodePage) {
  const std::wstring downloads = MakeFolder(kChinese);
  const std::wstring program = downloads + L"Setup.exe";
  ASSERT_TRUE(::CopyFileW(Widen(setup_).c_str(), program.c_str(), TRUE));
  const std::wstring temp = MakeFolder(kCyrillic);
  ExpectWholeCycle(program, temp);
  ASSERT_TRUE(::DeleteFileW(program.c_str()));
}

// A machine temporary folder that does not exist (the one case Wine gives
// no short form for) is not used: the run takes the Windows folder's TEMP,
// and the nonexistent folder is not created.
TEST_F(UnicodeNames, AMissingMachineTemporaryFolderGivesWayToTheWindowsTemp) {
  const std::wstring temp = Widen(root_.path()) + kBoth + L" \x043d\x0435\x0442\\";
  const std::string before = ListTree(root_.path());
  ProgramResult result = Run(Widen(setup_), temp);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(result.boxes.empty());
  ASSERT_TRUE(WaitForFile(RecordPath(), 10000)) << "the second stage did not start";
  std::string record;
  ASSERT_TRUE(ReadWholeFile(RecordPath(), &record));
  const std::vector<std::string> cleanup = Values(record, "CleanUp");
  ASSERT_EQ(cleanup.size(), 1u);
  wchar_t windows[MAX_PATH];
  ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const std::string windowsTemp = AnsiForm(std::wstring(windows) + L"\\TEMP\\");
  EXPECT_EQ(::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, cleanup[0].c_str(),
                             static_cast<int>(windowsTemp.size()), windowsTemp.c_str(), -1),
            CSTR_EQUAL)
      << cleanup[0];
  EXPECT_TRUE(WaitUntilGone(cleanup[0], 20000)) << "the cleanup script did not run";
  ::DeleteFileA(RecordPath().c_str());
  EXPECT_EQ(ListTree(root_.path()), before);
}

}  // namespace
}  // namespace kv::test
