// `kvpack pack`: a folder into one archive file, compressed as `kvpack
// setup` compresses an archive (over all cores) and written as it comes,
// so that a folder of any size is packed in bounded memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kv {

struct PackResult {
  std::uint64_t entries = 0;
  std::uint64_t bytes = 0;  // of the archive file
};

// Packs every file below folder (ScanFolder, with its names checked as the
// launcher's file system sees them) into the archive file at `archive`,
// through a temporary file beside it that takes the name only once the
// archive has been read back as `kvpack verify` reads one. False with a
// one-line *error; nothing is left at `archive` then (an older file there
// stays as it was).
bool PackFolder(const std::string& folder, const std::string& archive,
                std::optional<std::int64_t> sourceDateEpoch, PackResult* result,
                std::string* error);

}  // namespace kv
