#include "tools/kvpack/commands/commands.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "tools/kvpack/commands/archive_pack.h"
#include "tools/kvpack/commands/archive_report.h"
#include "tools/kvpack/commands/archive_sources.h"
#include "tools/kvpack/host/host_files.h"

#ifndef KVPACK_BUILD_TREE_STUB
#define KVPACK_BUILD_TREE_STUB ""
#endif

namespace kv {

namespace {

// SOURCE_DATE_EPOCH: no time stamp is written later than it, and setup
// takes it as the executable's time stamp.
std::optional<std::int64_t> SourceDateEpoch() {
  const char* value = std::getenv("SOURCE_DATE_EPOCH");
  if (value == nullptr || *value == '\0') return std::nullopt;
  char* end = nullptr;
  const long long seconds = std::strtoll(value, &end, 10);
  if (*end != '\0' || seconds < 0) return std::nullopt;
  return seconds;
}

std::string DefaultStub() {
  const std::string folder = ProgramFolder();
  if (!folder.empty()) {
    const std::string beside = folder + PathSeparator() + kStubName;
    FolderItem item;
    std::string ignored;
    if (StatPath(beside, &item, &ignored)) return beside;
  }
  return KVPACK_BUILD_TREE_STUB[0] != '\0' ? std::string(KVPACK_BUILD_TREE_STUB)
                                           : folder + PathSeparator() + kStubName;
}

}  // namespace

int Failed(const std::string& message) {
  std::fflush(stdout);  // keep listings and messages in order on a shared terminal
  std::fprintf(stderr, "kvpack: %s\n", message.c_str());
  return kExitFailed;
}

int PackCommand(const std::string& folder, const std::string& archive) {
  PackResult result;
  std::string error;
  if (!PackFolder(folder, archive, SourceDateEpoch(), &result, &error)) return Failed(error);
  std::printf("%s: %" PRIu64 " entries, %" PRIu64 " bytes\n", archive.c_str(), result.entries,
              result.bytes);
  return kExitOk;
}

int ListCommand(const std::string& path) {
  LoadedFile file;
  std::string error;
  if (!LoadArchives(path, &file, &error)) return Failed(error);
  int status = kExitOk;
  for (const ArchiveSource& source : file.archives) {
    std::string listing;
    const bool sound = ListArchive(source.data, source.size, &listing, &error);
    std::printf("%s: %s: %s", path.c_str(), source.label.c_str(), listing.c_str());
    if (!sound) {
      Failed(path + ": " + source.label + ": " + error);
      status = kExitFailed;
    }
  }
  return status;
}

int VerifyCommand(const std::string& path) {
  LoadedFile file;
  std::string error;
  if (!LoadArchives(path, &file, &error)) return Failed(error);
  VerifyTally tally;
  int faults = 0;
  for (const ArchiveSource& source : file.archives) {
    const std::string where = path + ": " + source.label + ": ";
    faults += VerifyArchive(source.data, source.size, &tally,
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

int SetupCommand(SetupRequest request) {
  if (request.stub.empty()) request.stub = DefaultStub();
  request.sourceDateEpoch = SourceDateEpoch();
  SetupResult result;
  std::string error;
  const bool built = BuildSetup(request, &result, &error);
  for (const std::string& w : result.warnings) std::fprintf(stderr, "kvpack: warning: %s\n", w.c_str());
  if (!built) return Failed(error);
  std::string names;
  for (const std::string& n : result.archiveNames) names += (names.empty() ? "" : " ") + n;
  std::printf("%s: %zu %s (%s), %zu entries, %" PRIu64 " bytes\n", request.output.c_str(),
              result.archives, result.archives == 1 ? "archive" : "archives", names.c_str(),
              result.entries, result.bytes);
  return kExitOk;
}

}  // namespace kv
