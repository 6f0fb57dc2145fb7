#include "tools/kvpack/commands/archive_report.h"

#include <cinttypes>
#include <cstdio>

#include "archive/archive_format.h"
#include "tools/kvpack/payload/ansi_names.h"

namespace kv {

namespace {

// Seconds since 1970 as "YYYY-MM-DD HH:MM:SS" UTC, without the C library's
// time zone machinery (which differs between the two systems).
std::string UtcTime(std::uint32_t seconds) {
  std::int64_t days = seconds / 86400;
  const std::uint32_t rest = seconds % 86400;
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  days += 719468;
  const std::int64_t era = days / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02u:%02u:%02u", year, month, day,
                rest / 3600, rest / 60 % 60, rest % 60);
  return text;
}

// The directory, with the checks both commands make before using it.
bool ReadSoundDirectory(const std::uint8_t* data, std::size_t size, ArchiveDirectory* dir,
                        std::string* fault) {
  *dir = ReadArchiveDirectory(data, size);
  if (!dir->ok()) {
    *fault = dir->error;
    return false;
  }
  return CheckEntryRanges(*dir, fault);
}

}  // namespace

bool ListArchive(const std::uint8_t* data, std::size_t size, std::string* listing,
                 std::string* fault) {
  ArchiveDirectory dir;
  const bool sound = ReadSoundDirectory(data, size, &dir, fault);
  char line[128];
  std::snprintf(line, sizeof line, "%" PRIu32 " entries, %zu bytes, directory at %" PRIu32 "\n",
                dir.count, size, dir.directoryOffset);
  *listing = line;
  std::snprintf(line, sizeof line, "  %10s %10s %10s  %-19s  %s\n", "size", "packed", "offset",
                "written (UTC)", "name");
  *listing += line;
  for (const ArchiveEntry& e : dir.entries) {
    std::snprintf(line, sizeof line, "  %10" PRIu32 " %10" PRIu32 " %10" PRIu32 "  %s  ",
                  e.uncompressedLength, e.compressedLength, e.dataOffset,
                  UtcTime(e.times[1]).c_str());
    *listing += line + AnsiForDisplay(e.name) + "\n";
  }
  return sound;
}

int VerifyArchive(const std::uint8_t* data, std::size_t size, VerifyTally* tally,
                  const std::function<void(const std::string&)>& fault,
                  const PieceLender& lend) {
  ArchiveDirectory dir;
  std::string why;
  if (!ReadSoundDirectory(data, size, &dir, &why)) {
    fault(why);
    return 1;
  }
  int faults = 0;
  for (const ArchiveEntry& e : dir.entries) {
    const std::uint8_t* bytes = Borrow(lend, data + e.dataOffset, e.compressedLength);
    if (bytes == nullptr) why = "its bytes cannot be read: the system gave no view of them";
    if (bytes == nullptr ||
        InflateEntry(bytes, e.compressedLength, e.uncompressedLength, nullptr, &why) !=
            EntryFault::kNone) {
      fault("entry \"" + AnsiForDisplay(e.name) + "\": " + why);
      ++faults;
      continue;
    }
    ++tally->entries;
    tally->inflated += e.uncompressedLength;
  }
  return faults;
}

bool ArchiveReadsBack(const std::uint8_t* data, std::size_t size, std::uint64_t entries,
                      std::string* error, const PieceLender& lend) {
  VerifyTally tally;
  std::string first;
  const int faults = VerifyArchive(
      data, size, &tally,
      [&](const std::string& fault) {
        if (first.empty()) first = fault;
      },
      lend);
  if (faults == 0 && tally.entries == entries) return true;
  *error = faults != 0 ? first
                       : std::to_string(tally.entries) + " entries, not " + std::to_string(entries);
  return false;
}

}  // namespace kv
