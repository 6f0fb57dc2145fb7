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
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "tools/kvpack/ansi_names.h"
#include "tools/kvpack/archive_sources.h"
#include "tools/kvpack/folder_scan.h"
#include "tools/kvpack/host_files.h"
#include "tools/kvpack/parallel_deflate.h"
#include "tools/kvpack/setup_builder.h"

#ifdef _WIN32
#include "platform/win32.h"
#include "tools/kvpack/wide_text.h"
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

// Seconds since 1970 as "YYYY-MM-DD HH:MM:SS" UTC, without the C library's
// time zone machinery (which differs between the two systems).
std::string UtcTime(std::uint32_t seconds) {
  std::int64_t days = seconds / 86400;
  const std::uint32_t rest = seconds % 86400;
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  days += 719468;
  const std::int64_t era = days / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02u:%02u:%02u", year, month, day,
                rest / 3600, rest / 60 % 60, rest % 60);
  return text;
}

int Pack(const std::string& folder, const std::string& archive) {
  std::vector<kv::FileToPack> files;
  std::vector<kv::PackEntry> entries;
  std::string error;
  if (!kv::ScanFolder(folder, SourceDateEpoch(), &files, &error)) return Failed(error);
  if (!kv::ReadFilesToPack(files, &entries, &error)) return Failed(error);
  std::vector<std::uint8_t> image;
  if (!kv::BuildArchive(entries, &image, &error)) return Failed(folder + ": " + error);
  if (!kv::WriteWholeFile(archive, image, &error)) return Failed(error);
  std::printf("%s: %zu entries, %zu bytes\n", archive.c_str(), entries.size(), image.size());
  return kExitOk;
}

int List(const std::string& path) {
  kv::LoadedFile file;
  std::string error;
  if (!kv::LoadArchives(path, &file, &error)) return Failed(error);
  int status = kExitOk;
  for (const kv::ArchiveSource& source : file.archives) {
    const kv::ArchiveDirectory dir = kv::ReadArchiveDirectory(source.data, source.size);
    std::printf("%s: %s: %" PRIu32 " entries, %zu bytes, directory at %" PRIu32 "\n",
                path.c_str(), source.label.c_str(), dir.count, source.size, dir.directoryOffset);
    std::printf("  %10s %10s %10s  %-19s  %s\n", "size", "packed", "offset", "written (UTC)",
                "name");
    for (const kv::ArchiveEntry& e : dir.entries) {
      std::printf("  %10" PRIu32 " %10" PRIu32 " %10" PRIu32 "  %s  %s\n", e.uncompressedLength,
                  e.compressedLength, e.dataOffset, UtcTime(e.times[1]).c_str(),
                  kv::AnsiToUtf8(e.name).c_str());
    }
    if (!dir.ok()) {
      Failed(path + ": " + source.label + ": " + dir.error);
      status = kExitFailed;
    }
  }
  return status;
}

int Verify(const std::string& path) {
  kv::LoadedFile file;
  std::string error;
  if (!kv::LoadArchives(path, &file, &error)) return Failed(error);
  std::uint64_t entries = 0;
  std::uint64_t inflated = 0;
  int faults = 0;
  for (const kv::ArchiveSource& source : file.archives) {
    const std::string where = path + ": " + source.label;
    const kv::ArchiveDirectory dir = kv::ReadArchiveDirectory(source.data, source.size);
    if (!dir.ok()) {
      Failed(where + ": " + dir.error);
      ++faults;
      continue;
    }
    for (const kv::ArchiveEntry& e : dir.entries) {
      const kv::EntryFault fault = kv::InflateEntry(source.data + e.dataOffset, e.compressedLength,
                                                    e.uncompressedLength, nullptr, &error);
      file.file.Release(source.data + e.dataOffset, e.compressedLength);
      if (fault != kv::EntryFault::kNone) {
        Failed(where + ": entry \"" + kv::AnsiToUtf8(e.name) + "\": " + error);
        ++faults;
        continue;
      }
      ++entries;
      inflated += e.uncompressedLength;
    }
  }
  if (faults != 0) {
    return Failed(path + ": verification failed: " + std::to_string(faults) +
                  (faults == 1 ? " fault" : " faults"));
  }
  std::printf("%s: ok: %zu %s, %" PRIu64 " entries, %" PRIu64 " bytes inflated and checked\n",
              path.c_str(), file.archives.size(), file.archives.size() == 1 ? "archive" : "archives",
              entries, inflated);
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

int Run(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  const std::string& command = args[0];
  if (command == "setup") return Setup(std::vector<std::string>(args.begin() + 1, args.end()));
  if (command == "pack" && args.size() == 3) return Pack(args[1], args[2]);
  if (command == "list" && args.size() == 2) return List(args[1]);
  if (command == "verify" && args.size() == 2) return Verify(args[1]);
  return Usage();
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
