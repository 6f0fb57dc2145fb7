// Turns a folder on the host into the entries of one archive.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "tools/kvpack/host/host_files.h"

namespace kv {

// Longest entry name the launcher can unpack wherever it runs: its target
// paths (work folder path followed by the name) take at most 259
// characters, and the shortest work folder it can get is "C:\KVGSetup0\".
inline constexpr std::size_t kShortestWorkFolder = 13;
inline constexpr std::size_t kMaxTargetPath = 259;
inline constexpr std::size_t kMaxUnpackableName = kMaxTargetPath - kShortestWorkFolder;

// One file found below the folder, not read yet.
struct FileToPack {
  std::string name;      // ANSI entry name, backslash-separated
  std::string hostPath;  // where the file is, for reading
  std::uint64_t size = 0;
  FileIdentity identity;  // as the scan saw it; the file is read only if it still is
  std::array<std::uint32_t, 3> times{};
};

// Collects every regular file below folder, recursively:
// - name: the path relative to folder, each component converted from UTF-8
//   to Windows-1252, joined with backslashes;
// - times: all three time stamps are the file's last-write time in seconds
//   since 1970 (the host keeps no reliable creation time, and access times
//   change on every read, so using them would make no two packings of the
//   same folder alike). When clampTo is set (kvpack passes
//   SOURCE_DATE_EPOCH), later times are replaced by it. Times before 1970
//   become 0, times past 2106 0xFFFFFFFF.
// The entries come sorted by name, byte by byte, so the same folder always
// gives the same order, on Linux and on Windows.
// Returns false with a one-line *error naming the path when the folder
// cannot be read or holds something no archive can carry: a symbolic link
// (or reparse point), a device, pipe or socket, an empty folder (archives
// hold files only), a name that is not UTF-8 (UTF-16 on Windows) or has a
// character Windows-1252 lacks, a backslash in a host name (Linux allows
// it; Windows would take it for a separator), a name that ValidateEntryName refuses (over
// 255 bytes among them), a component that ends in a dot or blank (Windows
// drops them, so the file would get another name), a name longer than
// kMaxUnpackableName, a file of 4 GiB or more, two names that Windows would
// take for the same file or folder (they differ in case only, as
// FoldNameCase folds it), or no file at all.
bool ScanFolder(const std::string& folder, std::optional<std::int64_t> clampTo,
                std::vector<FileToPack>* files, std::string* error);

}  // namespace kv
