// The read-back of a setup executable kvpack has just built, made before
// the file is put in place: the bytes are parsed again as `kvpack verify`
// would parse a file from anywhere, so that a fault of the rebuild itself
// never reaches a publisher as a setup that looks finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes/byte_pieces.h"

namespace kv {

// An archive the setup is meant to carry.
struct BuiltArchive {
  std::string name;          // resource name, such as "BASE"
  std::uint64_t size = 0;    // bytes of the archive
  std::uint64_t entries = 0; // records in its directory
};

// Checks the setup executable in file[0, size): a sound PE32 layout
// (CheckPeLayout), a CheckSum field that matches the file, a resource tree
// FindPeResources reads, exactly the archives of `expected` as "KVArc"
// resources of language 1031 with those sizes and, when `checkArchives`
// (kvpack embeds damaged archives only for test fixtures, on request), each
// with that entry count and as `kvpack verify` checks it: a sound directory
// and every entry inflating to its record. False with a one-line
// *error saying what did not read back. When given, lend() lends the
// bulk of the file (the checksum's pieces, each entry's compressed bytes)
// in turn, so that a caller that maps the file holds one piece at a time;
// headers and directories are read through file itself. Throws only
// std::bad_alloc.
bool CheckBuiltSetup(const std::uint8_t* file, std::size_t size,
                     const std::vector<BuiltArchive>& expected, bool checkArchives,
                     std::string* error, const PieceLender& lend = nullptr);

}  // namespace kv
