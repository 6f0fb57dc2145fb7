#include "archive/archive_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kv {

namespace {

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

std::string Printable(std::string_view name) { return PrintableText(name); }

ArchiveDirectory Fail(ArchiveDirectory dir, ArchiveFault fault, std::size_t index,
                      std::string error) {
  dir.fault = fault;
  dir.faultIndex = index;
  dir.error = std::move(error);
  return dir;
}

bool IsDotsAndBlanks(std::string_view component) {
  return std::all_of(component.begin(), component.end(),
                     [](char c) { return c == '.' || c == ' '; });
}

bool IsReservedDevice(std::string_view component) {
  // Windows maps these names to devices in every folder and whatever the
  // extension: "nul.txt" and "CON " open the device as well.
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  const std::string upper = AsciiUpper(base);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  if (upper.size() != 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0))
    return false;
  // Windows also takes the superscript digits one to three (Windows-1252
  // 0xB9, 0xB2, 0xB3) as the port's number: "COM\xB9" opens COM1.
  const unsigned char digit = static_cast<unsigned char>(upper[3]);
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

ArchiveDirectory ReadArchiveDirectory(const std::uint8_t* data, std::size_t size) {
  ArchiveDirectory dir;
  const std::uint64_t total = size;
  if (total < 4) {
    return Fail(std::move(dir), ArchiveFault::kDirectoryOffsetOutside, 0,
                Printf("archive of %llu bytes is too short to hold the directory offset",
                       static_cast<unsigned long long>(total)));
  }
  dir.directoryOffset = ReadU32(data);
  const std::uint64_t d = dir.directoryOffset;
  if (d + 4 > total) {
    return Fail(std::move(dir), ArchiveFault::kDirectoryOffsetOutside, 0,
                Printf("directory offset %llu: its count needs bytes up to %llu, the archive "
                       "has %llu",
                       static_cast<unsigned long long>(d), static_cast<unsigned long long>(d + 4),
                       static_cast<unsigned long long>(total)));
  }
  dir.count = ReadU32(data + d);
  std::uint64_t cursor = d + 4;
  // Every record takes at least 25 bytes; a count that cannot fit is refused
  // before anything is reserved for it.
  if (static_cast<std::uint64_t>(dir.count) * kRecordFixedSize > total - cursor) {
    return Fail(std::move(dir), ArchiveFault::kCountTooLarge, 0,
                Printf("count %lu needs at least %llu bytes of records, %llu remain after the "
                       "count",
                       static_cast<unsigned long>(dir.count),
                       static_cast<unsigned long long>(dir.count) * kRecordFixedSize,
                       static_cast<unsigned long long>(total - cursor)));
  }
  dir.entries.reserve(dir.count);
  for (std::uint32_t i = 0; i < dir.count; ++i) {
    if (cursor + 1 > total) {
      return Fail(std::move(dir), ArchiveFault::kRecordOutside, i,
                  Printf("record %lu at %llu: its length byte lies past the end (%llu)",
                         static_cast<unsigned long>(i), static_cast<unsigned long long>(cursor),
                         static_cast<unsigned long long>(total)));
    }
    const std::uint64_t length = data[cursor];
    if (cursor + 1 + length > total) {
      return Fail(std::move(dir), ArchiveFault::kNameOutside, i,
                  Printf("record %lu at %llu: its name of %llu bytes runs past the end (%llu)",
                         static_cast<unsigned long>(i), static_cast<unsigned long long>(cursor),
                         static_cast<unsigned long long>(length),
                         static_cast<unsigned long long>(total)));
    }
    if (cursor + kRecordFixedSize + length > total) {
      return Fail(std::move(dir), ArchiveFault::kRecordOutside, i,
                  Printf("record %lu at %llu: its fields end at %llu, past the end (%llu)",
                         static_cast<unsigned long>(i), static_cast<unsigned long long>(cursor),
                         static_cast<unsigned long long>(cursor + kRecordFixedSize + length),
                         static_cast<unsigned long long>(total)));
    }
    ArchiveEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(data + cursor + 1), length);
    const std::uint8_t* fields = data + cursor + 1 + length;
    entry.dataOffset = ReadU32(fields);
    entry.compressedLength = ReadU32(fields + 4);
    entry.uncompressedLength = ReadU32(fields + 8);
    for (int t = 0; t < 3; ++t) entry.times[t] = ReadU32(fields + 12 + 4 * t);
    cursor += kRecordFixedSize + length;

    const std::uint64_t end =
        static_cast<std::uint64_t>(entry.dataOffset) + entry.compressedLength;
    if (end > total) {
      return Fail(std::move(dir), ArchiveFault::kDataOutside, i,
                  Printf("entry \"%s\": data %lu + %lu ends at %llu, past the end (%llu)",
                         Printable(entry.name).c_str(),
                         static_cast<unsigned long>(entry.dataOffset),
                         static_cast<unsigned long>(entry.compressedLength),
                         static_cast<unsigned long long>(end),
                         static_cast<unsigned long long>(total)));
    }
    const NameFault nameFault = ValidateEntryName(entry.name);
    if (nameFault != NameFault::kNone) {
      return Fail(std::move(dir), ArchiveFault::kBadName, i,
                  Printf("entry \"%s\": name refused: %s", Printable(entry.name).c_str(),
                         NameFaultText(nameFault)));
    }
    dir.entries.push_back(std::move(entry));
  }
  return dir;
}

bool CheckEntryRanges(const ArchiveDirectory& dir, std::string* error) {
  const std::uint64_t areaEnd = dir.directoryOffset;
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < dir.entries.size(); ++i) {
    const ArchiveEntry& e = dir.entries[i];
    if (e.compressedLength == 0) continue;
    const std::uint64_t end = std::uint64_t{e.dataOffset} + e.compressedLength;
    if (e.dataOffset < 4 || end > areaEnd) {
      *error = Printf("entry \"%s\": data %lu + %lu lies outside the data area [4, %llu)",
                      Printable(e.name).c_str(), static_cast<unsigned long>(e.dataOffset),
                      static_cast<unsigned long>(e.compressedLength),
                      static_cast<unsigned long long>(areaEnd));
      return false;
    }
    order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return dir.entries[a].dataOffset < dir.entries[b].dataOffset;
  });
  // Sorted by start, a range overlaps an earlier one exactly when it starts
  // before the furthest end seen so far.
  std::size_t furthest = 0;
  std::uint64_t furthestEnd = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const ArchiveEntry& e = dir.entries[order[k]];
    if (k > 0 && e.dataOffset < furthestEnd) {
      *error = Printf("entries \"%s\" and \"%s\" share data bytes from %lu on",
                      Printable(dir.entries[furthest].name).c_str(), Printable(e.name).c_str(),
                      static_cast<unsigned long>(e.dataOffset));
      return false;
    }
    const std::uint64_t end = std::uint64_t{e.dataOffset} + e.compressedLength;
    if (end > furthestEnd) {
      furthestEnd = end;
      furthest = order[k];
    }
  }
  return true;
}

NameFault ValidateEntryName(std::string_view name) {
  if (name.empty()) return NameFault::kEmpty;
  if (name.size() > kMaxEntryNameLength) return NameFault::kTooLong;
  for (unsigned char c : name) {
    if (c < 0x20 || std::strchr(":/<>\"|?*", c) != nullptr) return NameFault::kBadCharacter;
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t stop = name.find('\\', start);
    const std::string_view component =
        name.substr(start, stop == std::string_view::npos ? std::string_view::npos : stop - start);
    if (component.empty()) return NameFault::kEmptyComponent;
    if (IsDotsAndBlanks(component)) return NameFault::kDotComponent;
    if (IsReservedDevice(component)) return NameFault::kReservedDevice;
    if (stop == std::string_view::npos) break;
    start = stop + 1;
  }
  return NameFault::kNone;
}

std::string PrintableText(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool SameAsciiName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiUpper(a) == AsciiUpper(b);
}

const char* NameFaultText(NameFault fault) {
  switch (fault) {
    case NameFault::kNone: return "valid";
    case NameFault::kEmpty: return "is empty";
    case NameFault::kTooLong: return "is longer than 255 bytes";
    case NameFault::kEmptyComponent:
      return "begins or ends with a backslash or holds two in a row";
    case NameFault::kDotComponent: return "holds a component of dots and blanks only, such as \"..\"";
    case NameFault::kBadCharacter:
      return "holds a colon, a slash, one of < > \" | ? * or a control character";
    case NameFault::kReservedDevice: return "names a device such as CON or NUL";
  }
  return "is refused";
}

EntryFault InflateEntry(const std::uint8_t* data, std::uint32_t compressedLength,
                        std::uint32_t uncompressedLength, const InflateSink& sink,
                        std::string* error) {
  auto fail = [error](EntryFault fault, std::string text) {
    if (error != nullptr) *error = std::move(text);
    return fault;
  };
  if (compressedLength == 0) {
    if (uncompressedLength != 0) {
      return fail(EntryFault::kLengthMismatch,
                  Printf("no compressed data, but %lu bytes expected",
                         static_cast<unsigned long>(uncompressedLength)));
    }
    return EntryFault::kNone;
  }

  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return fail(EntryFault::kDamaged, "zlib could not start");
  struct End {
    z_stream* z;
    ~End() { inflateEnd(z); }
  } end{&z};

  constexpr std::size_t kChunk = 64 * 1024;
  std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[kChunk]);
  // zlib takes the input as non-const but does not change it.
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = compressedLength;
  std::uint64_t produced = 0;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    z.next_out = out.get();
    z.avail_out = kChunk;
    rc = inflate(&z, Z_NO_FLUSH);
    const std::size_t got = kChunk - z.avail_out;
    produced += got;
    if (produced > uncompressedLength) {
      // Stop before a stream that inflates far beyond its record floods the sink.
      return fail(EntryFault::kLengthMismatch,
                  Printf("zlib stream damaged or record wrong: inflates to more than the %lu "
                         "bytes the record says",
                         static_cast<unsigned long>(uncompressedLength)));
    }
    if (got != 0 && sink && !sink(out.get(), got)) {
      return fail(EntryFault::kSinkFailed, "the bytes could not be stored");
    }
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && z.avail_in == 0) {
      return fail(EntryFault::kTruncated,
                  Printf("zlib stream truncated: the %lu compressed bytes end before the stream "
                         "does (%llu bytes inflated)",
                         static_cast<unsigned long>(compressedLength),
                         static_cast<unsigned long long>(produced)));
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      return fail(EntryFault::kDamaged,
                  Printf("zlib stream damaged: %s (after %llu bytes inflated)",
                         z.msg != nullptr ? z.msg : "error",
                         static_cast<unsigned long long>(produced)));
    }
    if (rc == Z_OK && z.avail_in == 0 && got < kChunk) {
      // All input taken, output space left, no end: zlib wants more input.
      return fail(EntryFault::kTruncated,
                  Printf("zlib stream truncated: the %lu compressed bytes end before the stream "
                         "does (%llu bytes inflated)",
                         static_cast<unsigned long>(compressedLength),
                         static_cast<unsigned long long>(produced)));
    }
  }
  if (z.avail_in != 0) {
    return fail(EntryFault::kTrailingBytes,
                Printf("zlib stream ends %lu bytes before the compressed length of %lu",
                       static_cast<unsigned long>(z.avail_in),
                       static_cast<unsigned long>(compressedLength)));
  }
  if (produced != uncompressedLength) {
    return fail(EntryFault::kLengthMismatch,
                Printf("inflated to %llu bytes, the record says %lu",
                       static_cast<unsigned long long>(produced),
                       static_cast<unsigned long>(uncompressedLength)));
  }
  return EntryFault::kNone;
}

}  // namespace kv
