#include "tools/kvpack/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "libdeflate.h"
#include "tools/kvpack/host_files.h"

namespace kv {

namespace {

// kvpack level -> libdeflate level. libdeflate's 6 already packs these
// payloads at least as tightly as zlib's 9, several times faster; its higher
// levels cost far more time for a few tenths of a percent.
int EncoderLevel(int level) {
  static const int kLevels[10] = {6, 1, 1, 2, 2, 3, 4, 5, 5, 6};
  return kLevels[level >= 1 && level <= 9 ? level : 0];
}

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorFree>;

std::vector<std::uint8_t> Compress(libdeflate_compressor* c, int level, const std::uint8_t* data,
                                   std::size_t size) {
  static const std::uint8_t kNothing = 0;
  if (data == nullptr) data = &kNothing;
  std::vector<std::uint8_t> out(2 + libdeflate_deflate_compress_bound(c, size) + 4);
  // The format names the header of a default-level stream; the level bits
  // are advisory, inflaters do not read them.
  out[0] = 0x78;
  out[1] = 0x9C;
  const std::size_t n = libdeflate_deflate_compress(c, data, size, out.data() + 2, out.size() - 6);
  std::uint32_t adler = static_cast<std::uint32_t>(adler32(0, nullptr, 0));
  // adler32 takes a 32-bit length; large files go in pieces.
  for (std::size_t at = 0; at < size;) {
    const std::size_t piece = std::min<std::size_t>(size - at, 1u << 30);
    adler = static_cast<std::uint32_t>(adler32(adler, data + at, static_cast<uInt>(piece)));
    at += piece;
  }
  out.resize(2 + n);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(adler >> shift));
  // At the top level no archive may take more room than zlib's level 9
  // would give it. Small text files are where libdeflate's quick choices
  // can lose a few bytes; its slowest level costs little on them.
  constexpr std::size_t kSmallFile = 64 * 1024;
  const bool repetitive = out.size() < size / 8;
  const bool smallText = size <= kSmallFile && out.size() < size / 2;
  if (level == 9 && smallText && !repetitive) {
    static thread_local Compressor best(libdeflate_alloc_compressor(12));
    if (!best) throw std::bad_alloc();
    std::vector<std::uint8_t> tight(2 + libdeflate_deflate_compress_bound(best.get(), size) + 4);
    const std::size_t m =
        libdeflate_deflate_compress(best.get(), data, size, tight.data() + 2, tight.size() - 6);
    if (m != 0 && m + 6 < out.size()) {
      tight[0] = 0x78;
      tight[1] = 0x9C;
      tight.resize(2 + m);
      for (int shift = 24; shift >= 0; shift -= 8)
        tight.push_back(static_cast<std::uint8_t>(adler >> shift));
      out.swap(tight);
    }
  }
  // Highly repetitive files (logs, tables) repeat far back, beyond what
  // libdeflate's searches reach at these levels; zlib's long hash chains
  // find those repeats, and on such files they are fast. The smaller of
  // the two streams is kept.
  if (level == 9 && repetitive && size <= 0xFFFFFFFFu) {
    uLongf bound = compressBound(static_cast<uLong>(size));
    std::vector<std::uint8_t> z(bound);
    if (compress2(z.data(), &bound, data, static_cast<uLong>(size), 9) == Z_OK && bound < out.size()) {
      z.resize(bound);
      z[0] = 0x78;  // same stream, the header of the default level
      z[1] = 0x9C;
      return z;
    }
  }
  return out;
}

}  // namespace

std::vector<std::uint8_t> ZlibStream(const std::uint8_t* data, std::size_t size, int level) {
  Compressor c(libdeflate_alloc_compressor(EncoderLevel(level)));
  if (!c) throw std::bad_alloc();
  return Compress(c.get(), level, data, size);
}

bool CompressFiles(const std::vector<FileToPack>& files, int level,
                   std::vector<PackedEntry>* packed, std::string* error) {
  packed->assign(files.size(), PackedEntry{});
  std::vector<std::string> errors(files.size());
  // Largest first, so that no big file starts last and keeps one core busy
  // while the others idle.
  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return files[a].size > files[b].size; });
  std::atomic<std::size_t> next{0};
  std::atomic<bool> outOfMemory{false};
  auto work = [&]() {
    try {
      Compressor c(libdeflate_alloc_compressor(EncoderLevel(level)));
      if (!c) throw std::bad_alloc();
      std::vector<std::uint8_t> bytes;
      for (std::size_t k; (k = next.fetch_add(1)) < order.size();) {
        const std::size_t i = order[k];
        const FileToPack& file = files[i];
        if (!ReadFileOfSize(file.hostPath, file.size, &bytes, &errors[i])) continue;
        PackedEntry& entry = (*packed)[i];
        entry.name = file.name;
        entry.times = file.times;
        entry.uncompressedLength = static_cast<std::uint32_t>(bytes.size());
        entry.stream = Compress(c.get(), level, bytes.empty() ? nullptr : bytes.data(), bytes.size());
        std::vector<std::uint8_t>().swap(bytes);
      }
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
      next = order.size();
    }
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t threads = std::min<std::size_t>(cores, files.size());
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  if (outOfMemory) {
    *error = "memory ran out while compressing";
    return false;
  }
  for (const std::string& e : errors) {
    if (!e.empty()) {
      *error = e;
      return false;
    }
  }
  return true;
}

}  // namespace kv
