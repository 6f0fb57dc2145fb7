// kvpack: the publisher's tool for the launcher's archives and setup
// executables, on Linux and on Windows. The command line is read in
// cli/command_line.h, the commands are in commands/commands.h.
//
// Exit codes: 0 done (verify: every archive sound); 1 the command failed
// (verify: at least one fault, each reported on stderr); 2 wrong usage.
// Names are shown in UTF-8; in the archive they are Windows-1252.
// SOURCE_DATE_EPOCH: no time stamp is written later than it, and setup
// takes it as the executable's time stamp.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "tools/kvpack/cli/command_line.h"
#include "tools/kvpack/commands/commands.h"

#ifdef _WIN32
#include "pe/wide_text.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#endif

namespace {

int RunCommand(const std::vector<std::string>& args) {
  const kv::CommandLine line = kv::ParseCommandLine(args);
  using Command = kv::CommandLine::Command;
  switch (line.command) {
    case Command::kSetup: return kv::SetupCommand(line.setup);
    case Command::kPack: return kv::PackCommand(line.paths[0], line.paths[1]);
    case Command::kList: return kv::ListCommand(line.paths[0]);
    case Command::kVerify: return kv::VerifyCommand(line.paths[0]);
    case Command::kUsage: break;
  }
  if (!line.complaint.empty()) std::fprintf(stderr, "kvpack: %s\n", line.complaint.c_str());
  if (!line.quiet) std::fputs(kv::UsageText(kv::kStubName).c_str(), stderr);
  return kv::kExitUsage;
}

// Memory that runs out (a file too large to hold, say) ends the command
// with one line, like any other failure.
int Run(const std::vector<std::string>& args) {
  try {
    return RunCommand(args);
  } catch (const std::bad_alloc&) {
    std::string what;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (!args[i].empty() && args[i][0] != '-') {
        what = args[i] + ": ";
        break;
      }
    }
    return kv::Failed(what + "not enough memory for kvpack " + args[0]);
  }
}

}  // namespace

#ifdef _WIN32
// The wide command line, so that paths outside the ANSI code page arrive
// as they are; everything inside kvpack is UTF-8, and so is what it prints.
int main() {
  ::SetConsoleOutputCP(CP_UTF8);
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const kv::ScopedLocal owner(argv);
  std::vector<std::string> args;
  for (int i = 1; argv != nullptr && i < argc; ++i) args.push_back(kv::WideToUtf8(argv[i]));
  const int code = Run(args);
  std::fflush(stdout);
  return code;
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
