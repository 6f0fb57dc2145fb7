// Compresses many files at once, over the machine's cores. Each file
// becomes one zlib stream (RFC 1950: the header 0x78 0x9C that the archive
// format names, raw deflate data from libdeflate, the big-endian Adler-32),
// so the bytes of each stream depend on the file and the level only, never
// on the number of threads or the order they run in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "tools/kvpack/folder_scan.h"

namespace kv {

// kvpack's levels, 1 (fastest) to 9 (smallest, the default). Level 9 packs
// at least as tightly as zlib's level 9 on installer payloads, at a small
// part of its time: libdeflate's level 6, and for a file that it packs to
// less than a third, zlib's level 9 as well, keeping the smaller stream.
inline constexpr int kDefaultLevel = 9;

// The deflate stream of `size` bytes as a zlib stream at the given level.
std::vector<std::uint8_t> ZlibStream(const std::uint8_t* data, std::size_t size, int level);

// Reads and compresses every file, largest first, on as many threads as the
// machine has cores (at most one per file). (*packed)[i] belongs to
// files[i]. False with the *error of the first file (in the given order)
// that could not be read.
bool CompressFiles(const std::vector<FileToPack>& files, int level,
                   std::vector<PackedEntry>* packed, std::string* error);

}  // namespace kv
