// Feeds arbitrary bytes to what `kvpack list` and `kvpack verify` do with a
// file: find its archives (the file itself, or the "KVArc" resources of an
// executable), list each and verify each. Nothing may read outside the
// bytes, and the two must agree on which archives are sound.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/kvpack/commands/archive_report.h"
#include "tools/kvpack/commands/archive_sources.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "setup_listing_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<kv::ArchiveSource> archives;
  bool executable = false;
  std::string error;
  if (!kv::FindArchiveSources(data, size, &archives, &executable, &error)) {
    if (error.empty()) Fail("refusal without text", "");
    return 0;
  }
  for (const kv::ArchiveSource& a : archives) {
    const auto offset =
        reinterpret_cast<std::uintptr_t>(a.data) - reinterpret_cast<std::uintptr_t>(data);
    if (offset > size || a.size > size - offset) Fail("archive outside the file", a.label);
    for (unsigned char c : a.label) {
      if (c < 0x20 || c >= 0x7F) Fail("control character in a label", a.label);
    }
    std::string listing;
    std::string fault;
    const bool listed = kv::ListArchive(a.data, a.size, &listing, &fault);
    for (unsigned char c : listing) {
      if ((c < 0x20 && c != '\n') || c == 0x7F) Fail("control character in a listing", listing);
    }
    kv::VerifyTally tally;
    const int faults = kv::VerifyArchive(a.data, a.size, &tally, [&](const std::string& line) {
      if (line.empty()) Fail("empty fault line", a.label);
    });
    // A sound directory: one line per entry after two heading lines, and
    // each entry either verified or one fault. Otherwise one fault, no entry.
    std::size_t lines = 0;
    for (char c : listing) lines += c == '\n';
    if (listed ? lines < 2 || faults + tally.entries != lines - 2
               : faults != 1 || tally.entries != 0) {
      Fail("list and verify disagree", a.label + ": " + fault);
    }
    if (tally.inflated > 1032ull * a.size + 1024 * tally.entries) {
      Fail("inflated more than the data can hold", a.label);
    }
  }
  return 0;
}
