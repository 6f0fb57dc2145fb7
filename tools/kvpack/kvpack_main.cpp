// kvpack: the publisher's tool for the launcher's archives and setup
// executables, on Linux and on Windows.
//
//   kvpack setup <payload> -o <out.exe> [options]   builds a setup executable
//   kvpack pack <folder> <archive>                  packs every file below folder
//   kvpack list <archive-or-exe>                    lists the entries
//   kvpack verify <archive-or-exe>                  inflates and checks every entry
//
// Exit codes: 0 done (verify: every archive sound); 1 the command failed
// (verify: at least one fault, each reported on stderr); 2 wrong usage.
// Names are shown in UTF-8; in the archive they are Windows-1252.
// SOURCE_DATE_EPOCH: no time stamp is written later than it, and setup
// takes it as the executable's time stamp.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "tools/kvpack/commands/archive_pack.h"
#include "tools/kvpack/commands/archive_report.h"
#include "tools/kvpack/commands/archive_sources.h"
#include "tools/kvpack/host/host_files.h"
#include "tools/kvpack/compress/parallel_deflate.h"
#include "tools/kvpack/setup/setup_builder.h"

#ifdef _WIN32
#include "platform/win32.h"
#include "pe/wide_text.h"
#endif

#ifndef KVPACK_BUILD_TREE_STUB
#define KVPACK_BUILD_TREE_STUB ""
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kStubName[] = "Setup-stub.exe";

int Usage() {
  std::fprintf(stderr,
               "usage: kvpack setup <payload folder> -o <setup.exe> [options]\n"
               "         --stub FILE          the launcher stub (default: %s beside kvpack)\n"
               "         --splash FILE.bmp    the splash picture (8 or 24 bits, or RLE8)\n"
               "         --icon FILE.ico      the program icon, with all its images\n"
               "         --version X.Y.Z.W    file and product version\n"
               "         --product TEXT  --company TEXT  --description TEXT  --copyright TEXT\n"
               "         --level 1..9         compression level (default 9, the smallest)\n"
               "         --allow-missing-stage  build even without StageRun.exe\n"
               "       kvpack pack <folder> <archive>\n"
               "       kvpack list <archive-or-exe>\n"
               "       kvpack verify <archive-or-exe>\n",
               kStubName);
  return kExitUsage;
}

int Failed(const std::string& message) {
  std::fflush(stdout);  // keep listings and messages in order on a shared terminal
  std::fprintf(stderr, "kvpack: %s\n", message.c_str());
  return kExitFailed;
}

std::optional<std::int64_t> SourceDateEpoch() {
  const char* value = std::getenv("SOURCE_DATE_EPOCH");
  if (value == nullptr || *value == '\0') return std::nullopt;
  char* end = nullptr;
  const long long seconds = std::strtoll(value, &end, 10);
  if (*end != '\0' || seconds < 0) return std::nullopt;
  return seconds;
}

int Pack(const std::string& folder, const std::string& archive) {
  kv::PackResult result;
  std::string error;
  if (!kv::PackFolder(folder, archive, SourceDateEpoch(), &result, &error)) return Failed(error);
  std::printf("%s: %" PRIu64 " entries, %" PRIu64 " bytes\n", archive.c_str(), result.entries,
              result.bytes);
  return kExitOk;
}

int List(const std::string& path) {
  kv::LoadedFile file;
  std::string error;
  if (!kv::LoadArchives(path, &file, &error)) return Failed(error);
  int status = kExitOk;
  for (const kv::ArchiveSource& source : file.archives) {
    std::string listing;
    const bool sound = kv::ListArchive(source.data, source.size, &listing, &error);
    std::printf("%s: %s: %s", path.c_str(), source.label.c_str(), listing.c_str());
    if (!sound) {
      Failed(path + ": " + source.label + ": " + error);
      status = kExitFailed;
    }
  }
  return status;
}

int Verify(const std::string& path) {
  kv::LoadedFile file;
  std::string error;
  if (!kv::LoadArchives(path, &file, &error)) return Failed(error);
  kv::VerifyTally tally;
  int faults = 0;
  for (const kv::ArchiveSource& source : file.archives) {
    const std::string where = path + ": " + source.label + ": ";
    faults += kv::VerifyArchive(source.data, source.size, &tally,
                                [&](const std::string& fault) { Failed(where + fault); },
                                file.file.Lender());
  }
  if (faults != 0) {
    return Failed(path + ": verification failed: " + std::to_string(faults) +
                  (faults == 1 ? " fault" : " faults"));
  }
  std::printf("%s: ok: %zu %s, %" PRIu64 " entries, %" PRIu64 " bytes inflated and checked\n",
              path.c_str(), file.archives.size(), file.archives.size() == 1 ? "archive" : "archives",
              tally.entries, tally.inflated);
  return kExitOk;
}

std::string DefaultStub() {
  const std::string folder = kv::ProgramFolder();
  if (!folder.empty()) {
    const std::string beside = folder + kv::PathSeparator() + kStubName;
    kv::FolderItem item;
    std::string ignored;
    if (kv::StatPath(beside, &item, &ignored)) return beside;
  }
  return KVPACK_BUILD_TREE_STUB[0] != '\0' ? std::string(KVPACK_BUILD_TREE_STUB)
                                           : folder + kv::PathSeparator() + kStubName;
}

int Setup(const std::vector<std::string>& args) {
  kv::SetupRequest request;
  request.level = kv::kDefaultLevel;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= args.size()) return false;
      *into = args[++i];
      return true;
    };
    std::string text;
    if (a == "-o" || a == "--output") {
      if (!value(&request.output)) return Usage();
    } else if (a == "--stub") {
      if (!value(&request.stub)) return Usage();
    } else if (a == "--splash") {
      if (!value(&request.splash)) return Usage();
    } else if (a == "--icon") {
      if (!value(&request.icon)) return Usage();
    } else if (a == "--version") {
      if (!value(&text)) return Usage();
      if (!kv::ParseVersion(text, request.versionInfo.version)) {
        std::fprintf(stderr, "kvpack: --version %s: expected X.Y.Z.W, each 0 to 65535\n",
                     text.c_str());
        return kExitUsage;
      }
      request.version = true;
    } else if (a == "--product" || a == "--company" || a == "--description" ||
               a == "--copyright") {
      if (!value(&text)) return Usage();
      kv::VersionInfo& v = request.versionInfo;
      (a == "--product" ? v.product : a == "--company" ? v.company
                                    : a == "--description" ? v.description : v.copyright) = text;
      request.version = true;
    } else if (a == "--level") {
      if (!value(&text)) return Usage();
      if (text.size() != 1 || text[0] < '1' || text[0] > '9') {
        std::fprintf(stderr, "kvpack: --level %s: expected 1 to 9\n", text.c_str());
        return kExitUsage;
      }
      request.level = text[0] - '0';
    } else if (a == "--allow-missing-stage") {
      request.allowMissingStage = true;
    } else if (a == "--unchecked-archives") {
      request.uncheckedArchives = true;
    } else if (a == "--save-archives") {
      if (!value(&request.archivesDir)) return Usage();
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "kvpack: unknown option %s\n", a.c_str());
      return Usage();
    } else if (request.payload.empty()) {
      request.payload = a;
    } else {
      return Usage();
    }
  }
  if (request.payload.empty() || request.output.empty()) return Usage();
  if (request.stub.empty()) request.stub = DefaultStub();
  request.sourceDateEpoch = SourceDateEpoch();

  kv::SetupResult result;
  std::string error;
  const bool built = kv::BuildSetup(request, &result, &error);
  for (const std::string& w : result.warnings) std::fprintf(stderr, "kvpack: warning: %s\n", w.c_str());
  if (!built) return Failed(error);
  std::string names;
  for (const std::string& n : result.archiveNames) names += (names.empty() ? "" : " ") + n;
  std::printf("%s: %zu %s (%s), %zu entries, %" PRIu64 " bytes\n", request.output.c_str(),
              result.archives, result.archives == 1 ? "archive" : "archives", names.c_str(),
              result.entries, result.bytes);
  return kExitOk;
}

int RunCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  const std::string& command = args[0];
  if (command == "setup") return Setup(std::vector<std::string>(args.begin() + 1, args.end()));
  if (command == "pack" && args.size() == 3) return Pack(args[1], args[2]);
  if (command == "list" && args.size() == 2) return List(args[1]);
  if (command == "verify" && args.size() == 2) return Verify(args[1]);
  return Usage();
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
    return Failed(what + "not enough memory for kvpack " + args[0]);
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
  std::vector<std::string> args;
  for (int i = 1; argv != nullptr && i < argc; ++i) args.push_back(kv::WideToUtf8(argv[i]));
  if (argv != nullptr) ::LocalFree(argv);
  const int code = Run(args);
  std::fflush(stdout);
  return code;
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
