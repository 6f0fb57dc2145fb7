// kvpack: the host's tool for the launcher's archives.
//
//   kvpack pack <folder> <archive>    packs every file below folder
//   kvpack list <archive-or-exe>      lists the entries
//   kvpack verify <archive-or-exe>    inflates and checks every entry
//
// Exit codes: 0 done (verify: every archive sound); 1 the command failed
// (verify: at least one fault, each reported on stderr); 2 wrong usage.
// Names are shown in UTF-8; in the archive they are Windows-1252.
// pack honours SOURCE_DATE_EPOCH: no time stamp is written later than it.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "tools/kvpack/ansi_names.h"
#include "tools/kvpack/archive_sources.h"
#include "tools/kvpack/folder_scan.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage() {
  std::fprintf(stderr,
               "usage: kvpack pack <folder> <archive>\n"
               "       kvpack list <archive-or-exe>\n"
               "       kvpack verify <archive-or-exe>\n");
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

std::string UtcTime(std::uint32_t seconds) {
  const std::time_t t = seconds;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

int Pack(const std::string& folder, const std::string& archive) {
  std::vector<kv::PackEntry> entries;
  std::string error;
  if (!kv::ScanFolder(folder, SourceDateEpoch(), &entries, &error)) return Failed(error);
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "pack" && argc == 4) return Pack(argv[2], argv[3]);
  if (command == "list" && argc == 3) return List(argv[2]);
  if (command == "verify" && argc == 3) return Verify(argv[2]);
  return Usage();
}
