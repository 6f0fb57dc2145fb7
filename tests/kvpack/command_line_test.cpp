// kvpack's command line read in process: one row per command line, and the
// setup request the options make.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/kvpack/cli/command_line.h"

namespace kv {
namespace {

using Command = CommandLine::Command;

TEST(CommandLine, ReadsEachCommandAndRefusesWhatIsNotOne) {
  const struct {
    std::vector<std::string> args;
    Command command;
    const char* complaint;
    bool quiet;
  } kRows[] = {
      {{}, Command::kUsage, "", false},
      {{"pack", "dir", "out.kvarc"}, Command::kPack, "", false},
      {{"pack", "dir"}, Command::kUsage, "", false},
      {{"list", "Setup.exe"}, Command::kList, "", false},
      {{"verify", "a", "b"}, Command::kUsage, "", false},
      {{"verify", "a"}, Command::kVerify, "", false},
      {{"unpack", "a"}, Command::kUsage, "", false},
      {{"setup", "payload", "-o", "Setup.exe"}, Command::kSetup, "", false},
      {{"setup", "payload"}, Command::kUsage, "", false},
      {{"setup", "-o", "Setup.exe"}, Command::kUsage, "", false},
      {{"setup", "payload", "-o"}, Command::kUsage, "", false},
      {{"setup", "payload", "other", "-o", "x"}, Command::kUsage, "", false},
      {{"setup", "payload", "-o", "x", "--bogus"}, Command::kUsage, "unknown option --bogus", false},
      {{"setup", "payload", "-o", "x", "--level", "0"}, Command::kUsage,
       "--level 0: expected 1 to 9", true},
      {{"setup", "payload", "-o", "x", "--level", "10"}, Command::kUsage,
       "--level 10: expected 1 to 9", true},
      {{"setup", "payload", "-o", "x", "--version", "1.2.3.4.5"}, Command::kUsage,
       "--version 1.2.3.4.5: expected X.Y.Z.W, each 0 to 65535", true},
      {{"setup", "payload", "-o", "x", "--version", "65536"}, Command::kUsage,
       "--version 65536: expected X.Y.Z.W, each 0 to 65535", true},
  };
  for (const auto& row : kRows) {
    std::string shown;
    for (const std::string& a : row.args) shown += a + " ";
    const CommandLine line = ParseCommandLine(row.args);
    EXPECT_EQ(line.command, row.command) << shown;
    EXPECT_EQ(line.complaint, row.complaint) << shown;
    EXPECT_EQ(line.quiet, row.quiet) << shown;
  }
}

TEST(CommandLine, SetupOptionsFillTheRequest) {
  const CommandLine line = ParseCommandLine(
      {"setup", "payload", "--stub", "stub.exe", "--output", "Setup.exe", "--splash", "s.bmp",
       "--icon", "i.ico", "--version", "3.1", "--product", "P", "--company", "C",
       "--description", "D", "--copyright", "R", "--level", "4", "--allow-missing-stage",
       "--unchecked-archives", "--save-archives", "dir"});
  ASSERT_EQ(line.command, Command::kSetup);
  const SetupRequest& r = line.setup;
  EXPECT_EQ(r.payload + r.output + r.stub + r.splash + r.icon + r.archivesDir,
            "payloadSetup.exestub.exes.bmpi.icodir");
  EXPECT_TRUE(r.version);
  EXPECT_EQ(r.versionInfo.version[0], 3);
  EXPECT_EQ(r.versionInfo.version[1], 1);
  EXPECT_EQ(r.versionInfo.version[2], 0);
  EXPECT_EQ(r.versionInfo.product + r.versionInfo.company + r.versionInfo.description +
                r.versionInfo.copyright,
            "PCDR");
  EXPECT_EQ(r.level, 4);
  EXPECT_TRUE(r.allowMissingStage);
  EXPECT_TRUE(r.uncheckedArchives);
  EXPECT_FALSE(r.sourceDateEpoch.has_value());
  // No option given: the defaults.
  const CommandLine plain = ParseCommandLine({"setup", "payload", "-o", "Setup.exe"});
  EXPECT_EQ(plain.setup.level, 9);
  EXPECT_TRUE(plain.setup.stub.empty());
  EXPECT_FALSE(plain.setup.version);
}

}  // namespace
}  // namespace kv
