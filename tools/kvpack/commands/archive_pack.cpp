#include "tools/kvpack/commands/archive_pack.h"

#include <vector>

#include "tools/kvpack/commands/archive_records.h"
#include "tools/kvpack/commands/archive_report.h"
#include "tools/kvpack/payload/folder_scan.h"
#include "tools/kvpack/host/host_files.h"
#include "tools/kvpack/payload/install_names.h"
#include "tools/kvpack/compress/parallel_deflate.h"

namespace kv {

bool PackFolder(const std::string& folder, const std::string& archive,
                std::optional<std::int64_t> sourceDateEpoch, PackResult* result,
                std::string* error) {
  *result = PackResult{};
  std::vector<FileToPack> files;
  if (!ScanFolder(folder, sourceDateEpoch, &files, error)) return false;
  std::vector<InstallName> names;
  for (const FileToPack& f : files) names.push_back({f.name, f.hostPath, 0});
  if (!CheckInstallNames(names, error)) return false;

  OutputFile out;
  if (!out.Create(archive + ".kvpack-tmp", error)) return false;
  static const std::uint8_t kRoom[4] = {};  // the directory's offset, once known
  if (!out.Append(kRoom, sizeof kRoom, error)) return false;
  ArchiveRecords records(static_cast<std::uint32_t>(files.size()));
  constexpr std::uint64_t kNone = ~std::uint64_t{0};
  std::uint64_t entryStart = kNone;
  CompressedSink sink;
  sink.bytes = [&](std::size_t, const std::uint8_t* bytes, std::size_t count, std::string* e) {
    if (entryStart == kNone) entryStart = out.Size();
    return out.Append(bytes, count, e);
  };
  sink.done = [&](std::size_t file, std::uint64_t length, std::string* e) {
    const std::uint64_t offset = entryStart == kNone ? out.Size() : entryStart;
    entryStart = kNone;
    return records.Add(files[file], offset, length, folder, e);
  };
  if (!CompressFiles(files, kDefaultLevel, sink, error)) return false;

  // Each record added kept the archive, directory included, within 4 GiB.
  const std::uint64_t directory = out.Size();
  std::uint8_t word[4];
  for (int i = 0; i < 4; ++i) word[i] = static_cast<std::uint8_t>(directory >> (8 * i));
  if (!out.Append(records.bytes().data(), records.bytes().size(), error) ||
      !out.WriteAt(0, word, sizeof word, error)) {
    return false;
  }
  result->entries = files.size();
  result->bytes = out.Size();
  return out.Commit(archive, error, [&](const std::string& path, std::string* why) {
    MappedFile file;
    if (!file.Open(path, why)) return false;
    if (ArchiveReadsBack(file.data(), file.size(), files.size(), why, file.Lender())) {
      return true;
    }
    *why = archive + ": not written: the archive kvpack packed does not read back (" + *why +
           "); this is a fault of kvpack, please report it";
    return false;
  });
}

}  // namespace kv
