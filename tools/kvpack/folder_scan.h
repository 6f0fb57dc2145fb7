// Turns a folder on the host into the entries of one archive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_format.h"

namespace kv {

// Collects every regular file below folder, recursively, as a PackEntry:
// - name: the path relative to folder, each component converted from UTF-8
//   to Windows-1252, joined with backslashes;
// - bytes: the file's contents;
// - times: all three time stamps are the file's last-write time in seconds
//   since 1970 (the host keeps no reliable creation time, and access times
//   change on every read, so using them would make no two packings of the
//   same folder alike). When clampTo is set (kvpack passes
//   SOURCE_DATE_EPOCH), later times are replaced by it. Times before 1970
//   become 0, times past 2106 0xFFFFFFFF.
// The entries come sorted by name, byte by byte, so the same folder always
// gives the same order.
// Returns false with a one-line *error naming the path when the folder
// cannot be read or holds something no archive can carry: a symbolic link,
// a device, pipe or socket, an empty folder (archives hold files only), a
// name that is not UTF-8 or has a character Windows-1252 lacks, a name that
// ValidateEntryName refuses (over 255 bytes among them), two names that
// Windows would take for the same file or folder (they differ in case only),
// or no file at all.
bool ScanFolder(const std::string& folder, std::optional<std::int64_t> clampTo,
                std::vector<PackEntry>* entries, std::string* error);

}  // namespace kv
