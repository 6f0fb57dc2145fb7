// piece_times [rounds]
//
// What one uninterrupted piece of the launcher's unpacking costs, to size
// the pieces between which it dispatches its window messages: one call of
// libdeflate's zlib decompressor on the largest entry it inflates whole
// (kWholeEntryLimit, 8 MiB) of text-like, random and zero bytes; one
// WriteFile of 256 KiB to 8 MiB into a file of the temporary folder; and
// one 64 KiB step of the zlib stream. Prints the best, the median and the
// worst of `rounds` (default 15) for each; the worst shows what the load of
// the machine adds.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/entry_extraction.h"
#include "archive/whole_entry_inflate.h"
#include "libdeflate.h"
#include "platform/win32.h"

namespace {

// Milliseconds of the steady clock (the performance counter on Windows).
double NowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Print(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-44s best %7.2f  median %7.2f  worst %7.2f ms\n", what, ms.front(),
              ms[ms.size() / 2], ms.back());
}

std::vector<unsigned char> Compress(const std::vector<unsigned char>& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<unsigned char> stream(size);
  compress2(stream.data(), &size, data.data(), static_cast<uLong>(data.size()), 9);
  stream.resize(size);
  return stream;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const size_t n = kv::kWholeEntryLimit;
  std::vector<unsigned char> text(n), random(n), zeros(n, 0);
  unsigned seed = 12345;
  const char* const words[] = {"alpha ", "beta ", "gamma\r\n", "delta ",
                               "epsilon ", "zeta ", "eta ", "theta\r\n"};
  for (size_t i = 0; i < n;) {
    seed = seed * 1103515245 + 12345;
    for (const char* w = words[seed >> 29]; *w && i < n; ++w)
      text[i++] = static_cast<unsigned char>(*w);
  }
  for (unsigned char& b : random) {
    seed = seed * 1103515245 + 12345;
    b = static_cast<unsigned char>(seed >> 24);
  }

  libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
  std::vector<unsigned char> out(n);
  const struct {
    const char* name;
    const std::vector<unsigned char>* data;
  } kinds[] = {{"text", &text}, {"random", &random}, {"zeros", &zeros}};
  for (const auto& kind : kinds) {
    const std::vector<unsigned char> stream = Compress(*kind.data);
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
      const double start = NowMs();
      libdeflate_zlib_decompress(inflater, stream.data(), stream.size(), out.data(), n, nullptr);
      ms.push_back(NowMs() - start);
    }
    Print(("inflate 8 MiB whole, " + std::string(kind.name)).c_str(), ms);
  }
  libdeflate_free_decompressor(inflater);

  char temp[MAX_PATH];
  ::GetTempPathA(sizeof temp, temp);
  const std::string file = std::string(temp) + "kv-piece-times.bin";
  for (size_t piece : {size_t(256) << 10, size_t(1) << 20, size_t(2) << 20, size_t(8) << 20}) {
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
      HANDLE handle = ::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle == INVALID_HANDLE_VALUE) return 1;
      for (size_t at = 0; at < n; at += piece) {
        DWORD written = 0;
        const double start = NowMs();
        ::WriteFile(handle, text.data() + at, static_cast<DWORD>(piece), &written, nullptr);
        ms.push_back(NowMs() - start);
      }
      ::CloseHandle(handle);
      ::DeleteFileA(file.c_str());
    }
    Print(("one write of " + std::to_string(piece >> 10) + " KiB").c_str(), ms);
  }

  const std::vector<unsigned char> stream = Compress(text);
  std::vector<double> ms;
  for (int r = 0; r < rounds; ++r) {
    z_stream z = {};
    inflateInit(&z);
    z.next_in = const_cast<unsigned char*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    for (int rc = Z_OK; rc == Z_OK;) {
      z.next_out = out.data();
      z.avail_out = kv::kExtractionStepBytes;
      const double start = NowMs();
      rc = inflate(&z, Z_NO_FLUSH);
      ms.push_back(NowMs() - start);
    }
    inflateEnd(&z);
  }
  Print("one 64 KiB step of the zlib stream, text", ms);
  return 0;
}
