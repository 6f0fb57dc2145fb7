#include "tools/kvpack/compress/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "libdeflate.h"
#include "tools/kvpack/host/host_files.h"

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

namespace {

// One piece of work: a whole file, or one chunk of a large one.
struct Job {
  std::size_t file = 0;
  std::uint64_t offset = 0;
  std::size_t length = 0;
  bool whole = false;  // the file in one zlib stream, as ZlibStream makes it
  bool first = false;
  bool last = false;
};

struct Piece {
  bool ready = false;
  std::vector<std::uint8_t> bytes;  // the zlib stream (whole) or raw deflate data (chunk)
  std::uint32_t adler = 1;          // of a chunk's input
  std::string error;
};

std::vector<Job> Plan(const std::vector<FileToPack>& files) {
  std::vector<Job> jobs;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::uint64_t size = files[i].size;
    if (size <= kChunkSize) {
      jobs.push_back(Job{i, 0, static_cast<std::size_t>(size), true, true, true});
      continue;
    }
    for (std::uint64_t at = 0; at < size; at += kChunkSize) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSize, size - at));
      jobs.push_back(Job{i, at, n, false, at == 0, at + n == size});
    }
  }
  return jobs;
}

std::uint32_t Adler(const std::uint8_t* data, std::size_t size, std::uint32_t adler) {
  for (std::size_t at = 0; at < size;) {
    const std::size_t piece = std::min<std::size_t>(size - at, 1u << 30);
    adler = static_cast<std::uint32_t>(adler32(adler, data + at, static_cast<uInt>(piece)));
    at += piece;
  }
  return adler;
}

// Each file is opened once, by the first of its pieces of work to run, and
// closed when the last has read its bytes: only the files being read are
// open at any time, however many the payload holds.
class OpenFiles {
 public:
  OpenFiles(const std::vector<FileToPack>& files, const std::vector<Job>& jobs)
      : files_(files), slots_(files.size()) {
    for (const Job& job : jobs) ++slots_[job.file].readsLeft;
  }

  // The open file for `job`, or null with *error.
  std::shared_ptr<const PayloadFile> Acquire(const Job& job, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[job.file];
    if (!slot.opened) {
      slot.opened = true;
      const FileToPack& f = files_[job.file];
      slot.file = PayloadFile::Open(f.hostPath, f.identity, f.size, &slot.error);
    }
    if (!slot.file) *error = slot.error;
    return slot.file;
  }

  // `job` has read its bytes.
  void Release(const Job& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[job.file];
    if (--slot.readsLeft == 0) slot.file.reset();
  }

 private:
  struct Slot {
    bool opened = false;
    std::size_t readsLeft = 0;
    std::shared_ptr<const PayloadFile> file;
    std::string error;
  };
  const std::vector<FileToPack>& files_;
  std::mutex mutex_;
  std::vector<Slot> slots_;
};

void Run(const Job& job, OpenFiles* open, libdeflate_compressor* c, int level,
         std::vector<std::uint8_t>* input, Piece* piece) {
  const std::shared_ptr<const PayloadFile> file = open->Acquire(job, &piece->error);
  const bool read = file && file->Read(job.offset, job.length, job.last, input, &piece->error);
  open->Release(job);
  if (!read) return;
  const std::uint8_t* data = input->empty() ? nullptr : input->data();
  if (job.whole) {
    piece->bytes = Compress(c, level, data, input->size());
  } else {
    piece->bytes.resize(libdeflate_deflate_compress_bound(c, input->size()) + 16);
    const std::size_t n = libdeflate_deflate_compress_chunk(c, data, input->size(), piece->bytes.data(),
                                                            piece->bytes.size(), job.last ? 1 : 0);
    if (n == 0) throw std::bad_alloc();  // the bound leaves room; cannot happen
    piece->bytes.resize(n);
    piece->bytes.shrink_to_fit();
    piece->adler = Adler(data, input->size(), 1);
  }
}

}  // namespace

bool CompressFiles(const std::vector<FileToPack>& files, int level, const CompressedSink& sink,
                   std::string* error) {
  const std::vector<Job> jobs = Plan(files);
  OpenFiles openFiles(files, jobs);
  std::vector<Piece> pieces(jobs.size());
  std::mutex mutex;
  std::condition_variable admitted;  // room in the bound, or stop
  std::condition_variable finished;  // a piece is ready
  std::size_t next = 0;
  std::uint64_t inFlight = 0;
  bool stop = false;

  // Pieces are taken strictly in order, each when the bytes not yet written
  // out leave room for it (or nothing is in flight): the piece the writer
  // waits for has always been taken, so the pipeline cannot stall.
  auto work = [&]() {
    std::vector<std::uint8_t> input;
    Compressor c;
    while (true) {
      std::size_t k;
      {
        std::unique_lock<std::mutex> lock(mutex);
        admitted.wait(lock, [&] {
          return stop || next == jobs.size() || inFlight == 0 ||
                 inFlight + jobs[next].length <= kBytesInFlight;
        });
        if (stop || next == jobs.size()) return;
        k = next++;
        inFlight += jobs[k].length;
      }
      Piece piece;
      try {
        if (!c) c.reset(libdeflate_alloc_compressor(EncoderLevel(level)));
        if (!c) throw std::bad_alloc();
        Run(jobs[k], &openFiles, c.get(), level, &input, &piece);
      } catch (const std::bad_alloc&) {
        piece.bytes = std::vector<std::uint8_t>();
        piece.error = "memory ran out while compressing " + files[jobs[k].file].hostPath;
      }
      std::vector<std::uint8_t>().swap(input);
      std::lock_guard<std::mutex> lock(mutex);
      piece.ready = true;
      pieces[k] = std::move(piece);
      finished.notify_all();
    }
  };

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t threads =
      std::min<std::size_t>({cores, jobs.size(), kBytesInFlight / kChunkSize});
  std::vector<std::thread> pool;
  try {
    for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);
  } catch (const std::system_error&) {
    if (pool.empty()) {
      *error = "cannot start a compressing thread";
      return false;
    }
  }
  auto finish = [&](bool ok) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    admitted.notify_all();
    for (std::thread& t : pool) t.join();
    return ok;
  };

  static const std::uint8_t kHeader[2] = {0x78, 0x9C};
  std::uint64_t streamLength = 0;
  std::uint32_t adler = 1;
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    Piece piece;
    {
      std::unique_lock<std::mutex> lock(mutex);
      finished.wait(lock, [&] { return pieces[k].ready; });
      piece = std::move(pieces[k]);
    }
    if (!piece.error.empty()) {
      *error = piece.error;
      return finish(false);
    }
    const Job& job = jobs[k];
    bool ok = true;
    if (job.whole) {
      ok = sink.bytes(job.file, piece.bytes.data(), piece.bytes.size(), error) &&
           sink.done(job.file, piece.bytes.size(), error);
    } else {
      if (job.first) {
        streamLength = 0;
        adler = 1;
        ok = sink.bytes(job.file, kHeader, 2, error);
        streamLength += 2;
      }
      ok = ok && sink.bytes(job.file, piece.bytes.data(), piece.bytes.size(), error);
      streamLength += piece.bytes.size();
      adler = static_cast<std::uint32_t>(
          adler32_combine(adler, piece.adler, static_cast<z_off_t>(job.length)));
      if (ok && job.last) {
        std::uint8_t trailer[4];
        for (int i = 0; i < 4; ++i) trailer[i] = static_cast<std::uint8_t>(adler >> (24 - 8 * i));
        ok = sink.bytes(job.file, trailer, 4, error) &&
             sink.done(job.file, streamLength + 4, error);
      }
    }
    if (!ok) return finish(false);
    {
      std::lock_guard<std::mutex> lock(mutex);
      inFlight -= job.length;
    }
    admitted.notify_all();
  }
  return finish(true);
}

}  // namespace kv
