// What `kvpack list` and `kvpack verify` make of one archive, over its bytes
// alone: they read nothing outside data[0, size), whatever it holds, and take
// time in proportion to its size (entries whose data overlap are refused, so
// no byte is inflated twice, and no entry inflates past its record's length).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "bytes/byte_pieces.h"

namespace kv {

// The listing of the archive in data[0, size): a first line "N entries,
// S bytes, directory at D", a heading, then one line per sound record
// (sizes, offset, write time, name as AnsiForDisplay shows it). Returns
// true when the directory is sound (ReadArchiveDirectory and
// CheckEntryRanges); false with a one-line *fault otherwise, the listing
// then showing the records read before the fault. Throws only
// std::bad_alloc.
bool ListArchive(const std::uint8_t* data, std::size_t size, std::string* listing,
                 std::string* fault);

// Tallies of a verification.
struct VerifyTally {
  std::uint64_t entries = 0;   // entries that inflated to their records
  std::uint64_t inflated = 0;  // their bytes
};

// Checks the archive in data[0, size) as `kvpack verify` does: its
// directory (ReadArchiveDirectory, CheckEntryRanges), then every entry
// inflated and compared with its record (InflateEntry). Calls fault() with
// one line for each fault found (the directory's, or an entry's, named as
// AnsiForDisplay shows it) and returns their number; adds the sound entries
// to *tally. When given, lend() lends each entry's compressed bytes in turn
// (a caller that maps the file holds one entry's pages at a time); an entry
// whose bytes it cannot lend is a fault. Throws only std::bad_alloc.
int VerifyArchive(const std::uint8_t* data, std::size_t size, VerifyTally* tally,
                  const std::function<void(const std::string&)>& fault,
                  const PieceLender& lend = nullptr);

// Checks the archive in data[0, size) as VerifyArchive does, and that it
// holds `entries` entries: what kvpack asks of an archive it has just
// written. False with the first fault, or "N entries, not M", in *error.
// Throws only std::bad_alloc.
bool ArchiveReadsBack(const std::uint8_t* data, std::size_t size, std::uint64_t entries,
                      std::string* error, const PieceLender& lend = nullptr);

}  // namespace kv
