// Compresses many files at once, over the machine's cores, with a bounded
// amount of memory. Each file becomes one zlib stream (RFC 1950: the header
// 0x78 0x9C that the archive format names, raw deflate data from
// libdeflate, the big-endian Adler-32), so the bytes of each stream depend
// on the file and the level only, never on the number of threads or the
// order they run in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "tools/kvpack/payload/folder_scan.h"

namespace kv {

// kvpack's levels, 1 (fastest) to 9 (smallest, the default). Level 9 packs
// at least as tightly as zlib's level 9 on installer payloads, at a small
// part of its time: libdeflate's level 6, and for a file that it packs to
// less than a third, zlib's level 9 as well, keeping the smaller stream.
inline constexpr int kDefaultLevel = 9;

// A file of up to kChunkSize bytes is compressed whole, in one piece of
// work. A larger one is cut into chunks of kChunkSize bytes (the last one
// shorter), each compressed on its own as part of the file's one deflate
// stream: every chunk but the last ends with an empty stored block, so the
// next follows on a byte boundary, and no match reaches back into an
// earlier chunk (which costs random data nothing and text a few hundredths
// of a percent).
inline constexpr std::size_t kChunkSize = 8u << 20;

// At most this many bytes of input are read and not yet written out at any
// time (a single piece of work larger than this still runs, alone). Peak
// memory is about twice it, plus one compressor per thread.
inline constexpr std::size_t kBytesInFlight = 96u << 20;

// The deflate stream of `size` bytes as a zlib stream at the given level,
// as CompressFiles writes it for a file of up to kChunkSize bytes.
std::vector<std::uint8_t> ZlibStream(const std::uint8_t* data, std::size_t size, int level);

// Receives the compressed files in the order given: `bytes` pieces of
// file `index`'s zlib stream, in order, then `done` once with the stream's
// whole length. Either returns false with *error to stop everything.
struct CompressedSink {
  std::function<bool(std::size_t index, const std::uint8_t* bytes, std::size_t count,
                     std::string* error)>
      bytes;
  std::function<bool(std::size_t index, std::uint64_t streamLength, std::string* error)> done;
};

// Reads and compresses every file, in pieces of work of up to kChunkSize
// bytes, on as many threads as the machine has cores (no more than the
// memory bound lets work), and hands the results to `sink` strictly in
// file order on the calling thread as they become ready. False with the
// *error of the first file (in the given order) that could not be read,
// changed size while being read, or ran out of memory, or with the sink's
// error; nothing of the files after it reaches the sink.
bool CompressFiles(const std::vector<FileToPack>& files, int level, const CompressedSink& sink,
                   std::string* error);

}  // namespace kv
