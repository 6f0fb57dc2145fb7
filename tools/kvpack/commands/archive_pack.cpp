#include "tools/kvpack/commands/archive_pack.h"

#include <vector>

#include "archive/archive_writer.h"
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
  ArchiveWriter writer;
  if (!out.Create(archive + ".kvpack-tmp", error) || !writer.Begin(&out, error)) return false;
  CompressedSink sink;
  sink.bytes = [&](std::size_t, const std::uint8_t* bytes, std::size_t count, std::string* e) {
    return writer.Append(bytes, count, e);
  };
  sink.done = [&](std::size_t file, std::uint64_t, std::string* e) {
    const FileToPack& f = files[file];
    if (writer.EndEntry(f.name, static_cast<std::uint32_t>(f.size), f.times, e)) return true;
    *e = folder + ": " + *e;
    return false;
  };
  if (!CompressFiles(files, kDefaultLevel, sink, error) || !writer.Finish(error)) return false;
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
