// kvpack's command line, read into what a command needs; nothing here
// touches a file.
//
//   kvpack setup <payload> -o <out.exe> [options]   builds a setup executable
//   kvpack pack <folder> <archive>                  packs every file below folder
//   kvpack list <archive-or-exe>                    lists the entries
//   kvpack verify <archive-or-exe>                  inflates and checks every entry
#pragma once

#include <string>
#include <vector>

#include "tools/kvpack/setup/setup_builder.h"

namespace kv {

struct CommandLine {
  enum class Command { kUsage, kSetup, kPack, kList, kVerify };
  Command command = Command::kUsage;
  // pack: the folder and the archive; list and verify: the file.
  std::vector<std::string> paths;
  // setup: the request as the options give it; stub is empty when --stub
  // was not given, and sourceDateEpoch is not set.
  SetupRequest setup;
  // kUsage: a line to print first (without "kvpack: "), or empty; the usage
  // text follows unless `quiet`.
  std::string complaint;
  bool quiet = false;
};

// Reads the arguments after the program's name. Anything that is not one of
// the four commands with its arguments (a missing or extra argument, an
// option that lacks its value, an unknown option: complaint "unknown option
// X") is kUsage; so is a --version that is not X.Y.Z.W or a --level that is
// not 1 to 9, with a complaint and `quiet` set.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text, naming the default stub file.
std::string UsageText(const char* stubName);

}  // namespace kv
