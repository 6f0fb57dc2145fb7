// The archive format carried in the "KVArc" resources, as bytes: a reader that
// checks every bound, the rules for entry names and an inflating checker
// (the writer is archive_writer.h). Portable (no Win32): the launcher, the second-stage stand-in and
// the host packer kvpack share it.
//
// Byte layout of one archive. Integers are unsigned 32-bit little-endian
// unless noted; offsets count from the first byte of the archive; nothing is
// aligned.
//
//   offset   size   field
//   0        4      D: offset of the directory
//   4        var    entry data: one complete zlib stream (RFC 1950) per entry
//   D        4      N: number of entries
//   D + 4    var    N directory records, one after another
//
// Directory record (25 + L bytes):
//
//   0        1      L: length of the name, 0..255 (unsigned 8-bit)
//   1        L      name: 8-bit ANSI, no terminating zero, relative to the
//                   work folder, folders separated by backslashes
//   1 + L    4      data offset: first byte of the entry's zlib stream
//   5 + L    4      compressed length: bytes of the zlib stream
//   9 + L    4      uncompressed length: bytes the stream inflates to
//   13 + L   4      first time stamp  } seconds since 1970-01-01 00:00 UTC;
//   17 + L   4      second time stamp } the launcher never uses them (see
//   21 + L   4      third time stamp  } ArchiveEntry::times)
//
// Each zlib stream starts with 0x78 0x9C and ends with the big-endian Adler-32
// of the uncompressed bytes; inflating exactly the compressed length reaches
// the end of the stream and yields exactly the uncompressed length.
//
// What the writer produces (the reader does not depend on it): the first
// entry at offset 4, entries without gaps in directory order, D at the end of
// the last entry, the directory ending exactly at the end of the archive.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Resource type of the archives. Resource types are case-insensitive; the
// resource directory of an executable stores the name in upper case.
inline constexpr char kArchiveResourceType[] = "KVArc";
inline constexpr char kArchiveResourceTypeStored[] = "KVARC";

// Language under which the archives are embedded (German, Germany). Lookups
// name type and name only and take whatever language is present.
inline constexpr std::uint16_t kArchiveLanguage = 1031;

// The archives the launcher unpacks, in the order it unpacks them; the table
// ends with a null pointer.
inline constexpr const char* kUnpackedArchives[] = {
    "BASE", "SETUPBASE", "SETUPPHOTO", "PHOTOEDITION", "KVIMAGE", "KVVERSION",
    nullptr};
inline constexpr std::size_t kUnpackedArchiveCount = 6;

// The archives left in the executable for the second stage; null-terminated.
inline constexpr const char* kSecondStageArchives[] = {"APPBASE", "PHOTOUNINST",
                                                       nullptr};
inline constexpr std::size_t kSecondStageArchiveCount = 2;

// Longest entry name: its length is stored in one byte.
inline constexpr std::size_t kMaxEntryNameLength = 255;
// Bytes of a directory record besides its name.
inline constexpr std::size_t kRecordFixedSize = 25;
// Largest archive the 32-bit offsets can describe.
inline constexpr std::uint64_t kMaxArchiveSize = 0xFFFFFFFFu;

// One directory record.
struct ArchiveEntry {
  std::string name;  // as stored: ANSI, backslash-separated
  std::uint32_t dataOffset = 0;
  std::uint32_t compressedLength = 0;
  std::uint32_t uncompressedLength = 0;
  // The three time stamps in record order. kvpack writes them as creation,
  // last-write and last-access time; on the host all three are the file's
  // last-write time (see tools/kvpack). Nothing that unpacks reads them.
  std::array<std::uint32_t, 3> times{};
};

// Why an archive was refused. Every fault but kNone refuses the whole
// archive: nothing of it is to be unpacked.
enum class ArchiveFault {
  kNone = 0,
  kDirectoryOffsetOutside,  // fewer than 4 bytes, or D + 4 past the end
  kCountTooLarge,           // N records cannot fit in the bytes after D + 4
  kRecordOutside,           // a record's length byte or fixed fields past the end
  kNameOutside,             // a record's name runs past the end
  kDataOutside,             // data offset + compressed length past the end
  kBadName,                 // the name fails ValidateEntryName
};

// What ReadArchiveDirectory found.
struct ArchiveDirectory {
  std::uint32_t directoryOffset = 0;  // D
  std::uint32_t count = 0;            // N as stored (0 when D is outside)
  // The records in directory order. After a fault: the records read before
  // the faulty one, so a listing can show how far the archive is sound.
  std::vector<ArchiveEntry> entries;
  ArchiveFault fault = ArchiveFault::kNone;
  std::size_t faultIndex = 0;  // index of the faulty record, if any
  std::string error;           // one line naming the fault and the numbers
  bool ok() const { return fault == ArchiveFault::kNone; }
};

// Reads the directory of the archive in data[0, size). Checks, before any
// record is used, that D + 4 lies inside, that N records of at least 25 bytes
// fit behind it, and for every record that its length byte, name and fixed
// fields lie inside, that its data range [data offset, data offset +
// compressed length) lies inside, and that its name passes ValidateEntryName.
// Gaps, entries out of directory order and bytes after the directory are
// accepted. All arithmetic is done in 64 bits, so no sum wraps on a 32-bit
// platform. Never reads outside data[0, size); allocates no more than the
// records that fit. Throws only std::bad_alloc.
ArchiveDirectory ReadArchiveDirectory(const std::uint8_t* data, std::size_t size);

// Checks what a sound archive has and the reader does not ask for: every
// entry's data lies in the data area [4, D), and no two entries' data
// overlap (an entry of compressed length 0 holds no data and takes part in
// neither check). dir must come from ReadArchiveDirectory and be ok().
// kvpack refuses an archive that fails: entries that share their data
// would make a checker inflate the same bytes again and again. Returns
// false with a one-line *error naming the entry (both, for an overlap).
// Takes time in proportion to N log N. Throws only std::bad_alloc.
bool CheckEntryRanges(const ArchiveDirectory& dir, std::string* error);

// Why an entry name was refused.
enum class NameFault {
  kNone = 0,
  kEmpty,            // no characters at all
  kTooLong,          // more than 255 bytes
  kEmptyComponent,   // leading, trailing or doubled backslash
  kDotComponent,     // a component of dots and blanks only ("." "..", "...", ". ")
  kBadCharacter,     // a colon (drive or stream), a slash, < > " | ? * or a
                     // control character
  kReservedDevice,   // a component naming a DOS device (CON, NUL, COM1, ...)
};

// Decides whether an entry name stays inside the work folder and names a
// plain file there, so that the work folder path followed by the name is a
// file below the work folder and "del" on it removes exactly that file.
// Accepted: one or more components separated by single backslashes, none of
// them empty. Refused: an empty name; a name over 255 bytes; a leading or
// trailing backslash or two backslashes in a row (a leading one would make
// the path absolute on the drive); a component made of dots and blanks only
// (Windows reads ".." as the parent, and strips trailing dots and blanks so
// ". ." or "..." could become one); any colon (a drive such as "C:" or an
// alternate data stream); a forward slash (Windows takes it as a separator
// too, so "a/../.." would escape); the characters < > " | ? * (wildcards
// would make the cleanup script's "del" remove other files, and a quotation
// mark would end its quoted path) and bytes below 0x20; a component whose
// part before the first dot, trailing blanks removed, is a DOS device name
// (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, any case; COM and LPT
// also with the superscript digits 1 to 3 of Windows-1252), since opening it
// reaches the device and not a file. Bytes 0x80-0xFF are accepted (ANSI).
NameFault ValidateEntryName(std::string_view name);

// A short English text for a fault, such as "holds a \"..\" component".
const char* NameFaultText(NameFault fault);

// `text` for a message or a listing: printable ASCII as it is, every other
// byte as \xNN, so that a hostile name cannot drive a terminal.
std::string PrintableText(std::string_view text);

// `text` with its ASCII letters in upper case; other bytes as they are.
std::string AsciiUpper(std::string_view text);

// True when `a` and `b` are equal but for the case of ASCII letters (resource
// names and types, and entry names as far as the tools compare them).
bool SameAsciiName(std::string_view a, std::string_view b);

// Why an entry's data failed its check.
enum class EntryFault {
  kNone = 0,
  kDamaged,         // zlib refused the data (bad header, bad deflate data,
                    // or an Adler-32 that does not match)
  kTruncated,       // the compressed bytes ended before the stream did
  kTrailingBytes,   // the stream ended before the compressed length did
  kLengthMismatch,  // the stream yielded another number of bytes than the
                    // record's uncompressed length
  kSinkFailed,      // the sink returned false
};

// Receives inflated bytes in order; returns false to stop with kSinkFailed.
using InflateSink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;

// Inflates the compressedLength bytes at data and checks them: zlib must
// reach the end of the stream exactly at the last compressed byte (which
// also checks the Adler-32) and the stream must yield exactly
// uncompressedLength bytes. A compressed length of 0 stands for an empty file
// and passes when uncompressedLength is 0. Hands every inflated byte to sink
// (if not empty) in pieces of at most 64 KiB; on a fault the sink may already
// have received bytes. Returns kNone or the first fault, with a one-line
// *error (if error is not null). Throws only std::bad_alloc.
EntryFault InflateEntry(const std::uint8_t* data, std::uint32_t compressedLength,
                        std::uint32_t uncompressedLength, const InflateSink& sink,
                        std::string* error);

}  // namespace kv
