// Feeds arbitrary bytes to the archive reader, the entry checker and the PE
// resource reader: none may read outside the buffer or crash. Every entry the
// reader accepts is inflated into memory, and an archive whose entries all
// inflate cleanly must survive a round trip through the writer unchanged.
// The launcher's whole-entry inflation may call an entry complete only when
// zlib does, and then with zlib's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "pe/pe_resources.h"
#include "archive/whole_entry_inflate.h"

namespace {

// Inflated bytes kept per input, over all entries: a small input that claims
// gigabytes stays quick.
constexpr std::size_t kInflateBudget = 1u << 20;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "archive_reader_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

struct Inflated {
  kv::EntryFault fault = kv::EntryFault::kNone;
  std::vector<std::uint8_t> bytes;
};

// Inflates one accepted entry into memory through a sink that refuses to
// grow past the budget left, and checks what InflateEntry promises of its
// sink and its result.
Inflated InflateIntoMemory(const std::uint8_t* archive, const kv::ArchiveEntry& e,
                           std::size_t* budget) {
  Inflated result;
  bool sinkRefused = false;
  const kv::InflateSink sink = [&](const std::uint8_t* bytes, std::size_t count) {
    if (count == 0 || count > 64 * 1024) Fail("sink piece size", std::to_string(count));
    if (count > *budget) {
      sinkRefused = true;
      return false;
    }
    result.bytes.insert(result.bytes.end(), bytes, bytes + count);
    *budget -= count;
    return true;
  };
  std::string error;
  result.fault = kv::InflateEntry(archive + e.dataOffset, e.compressedLength, e.uncompressedLength,
                                  sink, &error);
  if (result.fault == kv::EntryFault::kNone) {
    if (!error.empty()) Fail("error text on success", error);
    if (result.bytes.size() != e.uncompressedLength) {
      Fail("length on success", e.name + ": " + std::to_string(result.bytes.size()) +
                                    " != " + std::to_string(e.uncompressedLength));
    }
  } else {
    if (error.empty()) Fail("no error text for a fault", e.name);
    if (sinkRefused != (result.fault == kv::EntryFault::kSinkFailed)) {
      Fail("sink refusal not reported as kSinkFailed", e.name + ": " + error);
    }
    if (result.bytes.size() > e.uncompressedLength) {
      Fail("sink got more than the record's length", e.name);
    }
  }
  return result;
}

// Packs the entries again and reads them back: names, lengths and bytes
// must come out as they went in.
void CheckRoundTrip(const std::vector<kv::ArchiveEntry>& entries,
                    const std::vector<std::vector<std::uint8_t>>& contents) {
  std::vector<kv::PackEntry> pack;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    pack.push_back({entries[i].name, contents[i], entries[i].times});
  }
  std::vector<std::uint8_t> image;
  std::string error;
  if (!kv::BuildArchive(pack, &image, &error)) Fail("accepted entries not packable", error);
  const kv::ArchiveDirectory again = kv::ReadArchiveDirectory(image.data(), image.size());
  if (!again.ok()) Fail("packed archive refused", again.error);
  if (again.entries.size() != entries.size()) Fail("entry count changed", "");
  std::size_t budget = kInflateBudget * 2;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const kv::ArchiveEntry& e = again.entries[i];
    if (e.name != entries[i].name || e.times != entries[i].times) Fail("record changed", e.name);
    const Inflated back = InflateIntoMemory(image.data(), e, &budget);
    if (back.fault != kv::EntryFault::kNone || back.bytes != contents[i]) {
      Fail("packed bytes changed", e.name);
    }
  }
}

// Entries whose zlib verdict is known (the budget did not cut them short)
// and the launcher's (bytes after the stream's end are the checker's fault,
// not the launcher's).
void CheckWholeInflation(const std::uint8_t* archive, const kv::ArchiveEntry& e,
                         const Inflated& zlib) {
  if (e.compressedLength == 0 || zlib.fault == kv::EntryFault::kSinkFailed ||
      zlib.fault == kv::EntryFault::kTrailingBytes ||
      e.uncompressedLength > kInflateBudget) {
    return;
  }
  static kv::WholeEntryInflater whole(kInflateBudget);
  if (!whole.Inflate(archive + e.dataOffset, e.compressedLength, e.uncompressedLength)) return;
  if (zlib.fault != kv::EntryFault::kNone) Fail("whole inflation took what zlib refuses", e.name);
  if (!std::equal(zlib.bytes.begin(), zlib.bytes.end(), whole.Data())) {
    Fail("whole inflation gave other bytes than zlib", e.name);
  }
}

void CheckArchive(const std::uint8_t* data, std::size_t size) {
  const kv::ArchiveDirectory dir = kv::ReadArchiveDirectory(data, size);
  if (dir.ok() && dir.entries.size() != dir.count) Fail("entries != count", dir.error);
  if (!dir.ok() && dir.error.empty()) Fail("fault without text", "");
  if (!dir.ok()) return;

  std::size_t budget = kInflateBudget;
  bool allClean = true;
  std::vector<std::vector<std::uint8_t>> contents;
  for (const kv::ArchiveEntry& e : dir.entries) {
    if (kv::ValidateEntryName(e.name) != kv::NameFault::kNone) Fail("accepted a bad name", e.name);
    if (std::uint64_t{e.dataOffset} + e.compressedLength > size) Fail("data outside", e.name);
    Inflated got = InflateIntoMemory(data, e, &budget);
    CheckWholeInflation(data, e, got);
    allClean = allClean && got.fault == kv::EntryFault::kNone;
    contents.push_back(std::move(got.bytes));
  }
  if (allClean) CheckRoundTrip(dir.entries, contents);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckArchive(data, size);

  std::vector<kv::PeResource> found;
  std::string error;
  if (kv::FindPeResources(data, size, kv::kArchiveResourceTypeStored, &found, &error)) {
    for (const kv::PeResource& r : found) {
      const auto offset =
          reinterpret_cast<std::uintptr_t>(r.data) - reinterpret_cast<std::uintptr_t>(data);
      if (offset > size || r.size > size - offset) Fail("resource outside the file", r.name);
      CheckArchive(r.data, r.size);
    }
  }
  return 0;
}
