// The whole install cycle of a setup executable built from a payload: the
// launcher unpacks and writes the cleanup script, the stand-in second stage
// finds its files and runs the script through cmd with its process id, the
// stand-in holdproc waits for it, and the script removes everything.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/machine_temp.h"
#include "tests/support/program_run.h"
#include "tests/support/scoped_folder.h"

namespace kv::test {
namespace {

std::vector<std::string> RecordValues(const std::string& record, const std::string& key) {
  std::vector<std::string> values;
  const std::string head = key + "=";
  size_t at = 0;
  while ((at = record.find(head, at)) != std::string::npos) {
    if (at == 0 || record[at - 1] == '\n') {
      const size_t start = at + head.size();
      values.push_back(record.substr(start, record.find("\r\n", start) - start));
    }
    at += head.size();
  }
  return values;
}

std::string Oem(const std::string& ansi) {
  std::vector<char> buffer(ansi.begin(), ansi.end());
  buffer.push_back('\0');
  ::CharToOemA(buffer.data(), buffer.data());
  return buffer.data();
}

class InstallCycle : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_ = GetEnv("KV_CYCLE_SETUP_EXE");
    ASSERT_FALSE(setup_.empty());
  }
  void TearDown() override { EXPECT_TRUE(root_.Remove()) << "a file is still held open"; }

  // A temporary folder named `name` below the test's folder.
  std::string MakeTemp(const std::string& name) {
    const std::string path = root_.path() + name + "\\";
    EXPECT_TRUE(::CreateDirectoryA(path.c_str(), nullptr)) << name;
    return path;
  }

  ProgramResult RunSetup(const std::string& temp, bool cleanup) {
    ProgramRun run;
    run.program = setup_;
    run.commandTail = "/x";
    ScopedMachineTemp machineTemp(temp);
    run.environment = {{"KV_STAGERUN_RECORD", RecordPath()},
                       {"KV_STAGERUN_NO_CLEANUP", cleanup ? "" : "1"}};
    ::DeleteFileA(RecordPath().c_str());
    return RunProgram(run);
  }

  std::string RecordPath() const { return root_.path() + "record.txt"; }

  std::string ReadRecord() {
    std::string record;
    EXPECT_TRUE(WaitForFile(RecordPath(), 10000)) << "the second stage did not start";
    EXPECT_TRUE(ReadWholeFile(RecordPath(), &record));
    return record;
  }

  std::string setup_;
  ScopedFolder root_;
};

// Entries come in archive order, each archive's in directory order (kvpack
// sorts names by their bytes, so upper case first).
TEST_F(InstallCycle, UnpacksEveryArchiveInOrderAndWritesTheScriptLineByLine) {
  const std::string temp = MakeTemp("plain");
  ProgramResult result = RunSetup(temp, /*cleanup=*/false);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(result.boxes.empty());

  const std::string record = ReadRecord();
  const std::string work = temp + "KVGSetup0\\";
  EXPECT_EQ(RecordValues(record, "CurrentDirectory"),
            std::vector<std::string>{work.substr(0, work.size() - 1)});
  EXPECT_EQ(RecordValues(record, "File"),
            (std::vector<std::string>{"0.bat", "base.txt", "Data\\Fonts\\font.fon",
                                      "Data\\same.txt", "empty.txt", "holdproc.exe",
                                      "StageRun.exe"}));
  EXPECT_EQ(RecordValues(record, "Archive"), std::vector<std::string>{"APPBASE: 1 entry"});

  // The later archive's entry replaced the earlier one's; the empty entry
  // is an empty file.
  std::string same;
  EXPECT_TRUE(ReadWholeFile(work + "Data\\same.txt", &same));
  EXPECT_EQ(same, "second, from the later archive\r\n");
  std::string empty = "x";
  EXPECT_TRUE(ReadWholeFile(work + "empty.txt", &empty));
  EXPECT_EQ(empty, "");

  // The script lies beside the work folder (the payload's own 0.bat is an
  // entry like any other): the work folder's rmdir is the last of the
  // rmdir lines, the script's own del the last line.
  std::string script;
  ASSERT_TRUE(ReadWholeFile(temp + "0.bat", &script));
  EXPECT_EQ(script,
            "cd \\\r\n"
            "\"" + work + "holdproc\" %1\r\n"
            "del \"" + work + "0.bat\"\r\n"
            "del \"" + work + "StageRun.exe\"\r\n"
            "del \"" + work + "base.txt\"\r\n"
            "del \"" + work + "holdproc.exe\"\r\n"
            "del \"" + work + "Data\\Fonts\\font.fon\"\r\n"
            "del \"" + work + "Data\\same.txt\"\r\n"
            "del \"" + work + "Data\\same.txt\"\r\n"
            "del \"" + work + "empty.txt\"\r\n"
            "rmdir \"" + work + "Data\\Fonts\"\r\n"
            "rmdir \"" + work + "Data\"\r\n"
            "rmdir \"" + temp + "KVGSetup0\"\r\n"
            "del \"" + temp + "0.bat\"\r\n");
}

// Temporary folders whose names cmd would misread without quotation marks,
// or expand without doubled percent signs, or read in the wrong code page
// (\x8A and \x99, Windows-1252's S with caron and trade mark, are not in
// the OEM code page: the script names the folder by its short form).
TEST_F(InstallCycle, TheScriptRemovesEverythingWhateverTheTemporaryFolderIsCalled) {
  const char* names[] = {"with blanks", "amp&ersand", "caret^hat", "100% and %PATH%",
                         "Jos\xE9 M\xFCller", "all & ^ % \xE9 of them",
                         "\x8A and \x99"};
  for (const char* name : names) {
    const std::string temp = MakeTemp(name);
    ProgramResult result = RunSetup(temp, /*cleanup=*/true);
    ASSERT_TRUE(result.finished) << name;
    EXPECT_EQ(result.exitCode, 0u) << name;
    const std::string record = ReadRecord();
    EXPECT_EQ(RecordValues(record, "CleanupStarted"), std::vector<std::string>{"yes"}) << name;
    EXPECT_TRUE(CleanupFinished(temp))
        << "left in [" << name << "]:\n" << ListTree(temp) << "script:\n"
        << [&] {
             std::string lines;
             for (const std::string& line : RecordValues(record, "Script")) lines += line + "\n";
             return lines;
           }();
  }
}

TEST_F(InstallCycle, TwentyRunsInARowLeaveNothingBehind) {
  const std::string temp = MakeTemp("repeat");
  for (int run = 0; run < 20; ++run) {
    ProgramResult result = RunSetup(temp, /*cleanup=*/true);
    ASSERT_TRUE(result.finished) << "run " << run;
    ASSERT_EQ(result.exitCode, 0u) << "run " << run;
    ReadRecord();
    ASSERT_TRUE(CleanupFinished(temp)) << "run " << run << " left:\n" << ListTree(temp);
  }
}

TEST_F(InstallCycle, ScriptLinesAreInTheOemCodePage) {
  const std::string temp = MakeTemp("Jos\xE9");
  ProgramResult result = RunSetup(temp, /*cleanup=*/false);
  ASSERT_TRUE(result.finished);
  ReadRecord();
  std::string script;
  ASSERT_TRUE(ReadWholeFile(temp + "0.bat", &script));
  EXPECT_EQ(script.substr(script.rfind("del ")), Oem("del \"" + temp + "0.bat\"\r\n"));
  EXPECT_EQ(script.find('\xE9'), std::string::npos) << "an ANSI byte stands in the script";
}

}  // namespace
}  // namespace kv::test
