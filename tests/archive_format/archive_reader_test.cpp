// ReadArchiveDirectory over hand-made images: the layouts a reader must
// accept, and every bound it must refuse.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "tests/archive_format/archive_bytes.h"

namespace kv {
namespace {

using test::ArchiveBytes;

struct ReadCase {
  const char* what;
  std::function<ArchiveBytes()> build;
  ArchiveFault fault;
  std::size_t entries;  // records read (before the fault, if any)
  // CheckEntryRanges, for the layouts the reader accepts: each entry's data
  // in [4, D), none sharing bytes with another.
  bool rangesSound = true;
};

const std::string k255(255, 'n');

std::vector<ReadCase> Cases() {
  return {
      // Accepted layouts.
      {"count 0", [] { return ArchiveBytes().U32(4).U32(0); }, ArchiveFault::kNone, 0},
      {"compressed length 0",
       [] { return ArchiveBytes().U32(4).U32(1).Record("empty.txt", 4, 0, 0); },
       ArchiveFault::kNone, 1},
      {"name of 255 bytes",
       [] { return ArchiveBytes().U32(12).Zeros(8).U32(1).Record(k255, 4, 8, 0); },
       ArchiveFault::kNone, 1},
      {"two folder levels",
       [] { return ArchiveBytes().U32(12).Zeros(8).U32(1).Record("a\\b\\c.txt", 4, 8, 0); },
       ArchiveFault::kNone, 1},
      {"gaps and entries out of directory order",
       [] {
         return ArchiveBytes().U32(40).Zeros(36).U32(2).Record("second", 30, 10, 0).Record(
             "first", 6, 10, 0);
       },
       ArchiveFault::kNone, 2},
      {"bytes after the directory",
       [] { return ArchiveBytes().U32(4).U32(1).Record("x", 4, 0, 0).Text("trailing junk"); },
       ArchiveFault::kNone, 1},
      {"directory offset 0 (count read from the offset word itself)",
       [] { return ArchiveBytes().U32(0); }, ArchiveFault::kNone, 0},
      {"data range ends exactly at the end (so it covers D and the directory)",
       [] { return ArchiveBytes().U32(4).U32(1).Record("x", 0, 34, 0); }, ArchiveFault::kNone, 1,
       false},
      {"two entries on one stream",
       [] {
         return ArchiveBytes().U32(24).Zeros(20).U32(2).Record("a", 4, 20, 0).Record("b", 4, 20, 0);
       },
       ArchiveFault::kNone, 2, false},
      {"entries that overlap by one byte",
       [] {
         return ArchiveBytes().U32(24).Zeros(20).U32(2).Record("b", 13, 11, 0).Record("a", 4, 10, 0);
       },
       ArchiveFault::kNone, 2, false},
      {"entries that touch",
       [] {
         return ArchiveBytes().U32(24).Zeros(20).U32(2).Record("b", 14, 10, 0).Record("a", 4, 10, 0);
       },
       ArchiveFault::kNone, 2},
      {"data in the directory's bytes",
       [] { return ArchiveBytes().U32(12).Zeros(8).U32(1).Record("a", 10, 8, 0); },
       ArchiveFault::kNone, 1, false},

      // Refused: the directory offset and the count.
      {"empty resource", [] { return ArchiveBytes(); }, ArchiveFault::kDirectoryOffsetOutside, 0},
      {"3 bytes", [] { return ArchiveBytes().U8(4).U8(0).U8(0); },
       ArchiveFault::kDirectoryOffsetOutside, 0},
      {"D past the end", [] { return ArchiveBytes().U32(9).U32(0); },
       ArchiveFault::kDirectoryOffsetOutside, 0},
      {"count straddles the end", [] { return ArchiveBytes().U32(5).U32(0); },
       ArchiveFault::kDirectoryOffsetOutside, 0},
      {"D near 4 GiB (D + 4 wraps in 32 bits)", [] { return ArchiveBytes().U32(0xFFFFFFFEu).U32(0); },
       ArchiveFault::kDirectoryOffsetOutside, 0},
      {"count 1 without a record", [] { return ArchiveBytes().U32(4).U32(1); },
       ArchiveFault::kCountTooLarge, 0},
      {"huge count", [] { return ArchiveBytes().U32(4).U32(0xFFFFFFFFu).Record("x", 4, 0, 0); },
       ArchiveFault::kCountTooLarge, 0},
      {"count one more than the records",
       [] { return ArchiveBytes().U32(4).U32(2).Record("x", 4, 0, 0).Zeros(24); },
       ArchiveFault::kRecordOutside, 1},

      // Refused: one record.
      {"name past the end",
       [] { return ArchiveBytes().U32(4).U32(1).U8(200).Text("abc").Zeros(24); },
       ArchiveFault::kNameOutside, 0},
      {"record fields past the end",
       [] { return ArchiveBytes().U32(4).U32(1).U8(5).Text("abcde").Zeros(21); },
       ArchiveFault::kRecordOutside, 0},
      {"second record's length byte past the end",
       [] {
         return ArchiveBytes().U32(4).U32(2).Record(std::string(25, 'a'), 4, 0, 0);
       },
       ArchiveFault::kRecordOutside, 1},
      {"data range one byte past the end",
       [] { return ArchiveBytes().U32(4).U32(1).Record("x", 0, 35, 0); },
       ArchiveFault::kDataOutside, 0},
      {"data offset past the end", [] { return ArchiveBytes().U32(4).U32(1).Record("x", 1000, 0, 0); },
       ArchiveFault::kDataOutside, 0},
      {"data range wraps in 32 bits",
       [] { return ArchiveBytes().U32(4).U32(1).Record("x", 0xFFFFFFF0u, 0x20, 0); },
       ArchiveFault::kDataOutside, 0},
      {"second record's data outside",
       [] {
         return ArchiveBytes().U32(4).U32(2).Record("a", 4, 0, 0).Record("b", 4, 0x7FFFFFFF, 0);
       },
       ArchiveFault::kDataOutside, 1},

      // Refused: names that would leave the work folder.
      {"name with a \"..\" component",
       [] { return ArchiveBytes().U32(4).U32(1).Record("..\\evil.exe", 4, 0, 0); },
       ArchiveFault::kBadName, 0},
      {"name with a drive",
       [] { return ArchiveBytes().U32(4).U32(1).Record("C:\\evil.exe", 4, 0, 0); },
       ArchiveFault::kBadName, 0},
      {"empty name", [] { return ArchiveBytes().U32(4).U32(1).Record("", 4, 0, 0); },
       ArchiveFault::kBadName, 0},
  };
}

TEST(ArchiveReader, AcceptsWhatItShouldAndRefusesEveryBrokenBound) {
  for (const ReadCase& c : Cases()) {
    SCOPED_TRACE(c.what);
    const ArchiveBytes image = c.build();
    // A copy in a buffer of exactly the image's size, so a read past the
    // end lands outside the allocation where a checker sees it.
    std::vector<std::uint8_t> exact(image.bytes());
    const ArchiveDirectory dir =
        ReadArchiveDirectory(exact.empty() ? nullptr : exact.data(), exact.size());
    EXPECT_EQ(dir.fault, c.fault) << dir.error;
    EXPECT_EQ(dir.entries.size(), c.entries);
    std::string why;
    if (dir.ok()) {
      EXPECT_EQ(CheckEntryRanges(dir, &why), c.rangesSound) << why;
    }
    if (c.fault != ArchiveFault::kNone) {
      EXPECT_FALSE(dir.error.empty());
      EXPECT_EQ(dir.faultIndex, c.entries);
    }
  }
}

TEST(ArchiveReader, GivesEveryFieldOfEveryRecord) {
  const ArchiveBytes image = ArchiveBytes()
                                 .U32(24)
                                 .Zeros(20)
                                 .U32(2)
                                 .Record("sub\\one.dll", 14, 10, 123, 1111, 2222, 3333)
                                 .Record(k255, 4, 10, 0xFFFFFFFFu, 0, 0xFFFFFFFFu, 7);
  const ArchiveDirectory dir = ReadArchiveDirectory(image.bytes().data(), image.size());
  ASSERT_TRUE(dir.ok()) << dir.error;
  EXPECT_EQ(dir.directoryOffset, 24u);
  EXPECT_EQ(dir.count, 2u);
  ASSERT_EQ(dir.entries.size(), 2u);
  const ArchiveEntry& a = dir.entries[0];
  EXPECT_EQ(a.name, "sub\\one.dll");
  EXPECT_EQ(a.dataOffset, 14u);
  EXPECT_EQ(a.compressedLength, 10u);
  EXPECT_EQ(a.uncompressedLength, 123u);
  EXPECT_EQ(a.times, (std::array<std::uint32_t, 3>{1111, 2222, 3333}));
  const ArchiveEntry& b = dir.entries[1];
  EXPECT_EQ(b.name, k255);
  EXPECT_EQ(b.dataOffset, 4u);
  EXPECT_EQ(b.uncompressedLength, 0xFFFFFFFFu);
  EXPECT_EQ(b.times, (std::array<std::uint32_t, 3>{0, 0xFFFFFFFFu, 7}));
}

TEST(ArchiveReader, NeverReadsPastTheEndOfAnyPrefix) {
  // Every prefix of a sound archive is read without touching a byte beyond
  // it; each prefix that cuts the directory is refused.
  const ArchiveBytes image = ArchiveBytes()
                                 .U32(12)
                                 .Zeros(8)
                                 .U32(2)
                                 .Record("a\\b.txt", 4, 4, 0)
                                 .Record("c.txt", 8, 4, 0);
  for (std::size_t cut = 0; cut < image.size(); ++cut) {
    SCOPED_TRACE(cut);
    std::vector<std::uint8_t> prefix(image.bytes().begin(), image.bytes().begin() + cut);
    const ArchiveDirectory dir = ReadArchiveDirectory(prefix.data(), prefix.size());
    EXPECT_FALSE(dir.ok());
  }
  EXPECT_TRUE(ReadArchiveDirectory(image.bytes().data(), image.size()).ok());
}

}  // namespace
}  // namespace kv
