// BuildArchive and InflateEntry: the writer's layout, round trips through
// the reader, and the checks that keep damaged data from passing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"

namespace kv {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Bytes zlib cannot shrink, from a fixed generator so every run is alike.
std::vector<std::uint8_t> Noise(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return out;
}

std::vector<std::uint8_t> Text(std::size_t n) {
  std::string s;
  while (s.size() < n) s += "line " + std::to_string(s.size()) + " of some setup text\r\n";
  s.resize(n);
  return Bytes(s);
}

std::vector<std::uint8_t> Build(const std::vector<PackEntry>& entries) {
  std::vector<std::uint8_t> image;
  std::string error;
  EXPECT_TRUE(BuildArchive(entries, &image, &error)) << error;
  return image;
}

TEST(ArchiveWriter, OneEntryGivesTheFortyNineByteLayout) {
  // "aaa" deflates to 5 bytes: with header and Adler-32 an 11-byte stream.
  const std::vector<std::uint8_t> image = Build({{"a.txt", Bytes("aaa"), {10, 20, 30}}});
  ASSERT_EQ(image.size(), 49u);
  EXPECT_EQ(U32At(image, 0), 15u);   // D
  EXPECT_EQ(image[4], 0x78);         // stream at 4..14
  EXPECT_EQ(image[5], 0x9C);
  EXPECT_EQ(U32At(image, 15), 1u);   // N
  EXPECT_EQ(image[19], 5);           // L
  EXPECT_EQ(std::string(image.begin() + 20, image.begin() + 25), "a.txt");
  EXPECT_EQ(U32At(image, 25), 4u);   // data offset
  EXPECT_EQ(U32At(image, 29), 11u);  // compressed length
  EXPECT_EQ(U32At(image, 33), 3u);   // uncompressed length
  EXPECT_EQ(U32At(image, 37), 10u);
  EXPECT_EQ(U32At(image, 41), 20u);
  EXPECT_EQ(U32At(image, 45), 30u);
  // Adler-32 of "aaa", big-endian, closes the stream.
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 11, image.begin() + 15),
            (std::vector<std::uint8_t>{0x02, 0x49, 0x01, 0x24}));
}

TEST(ArchiveWriter, RoundTripsThroughTheReaderWithoutGaps) {
  const std::vector<PackEntry> entries = {
      {"StageRun.exe", Noise(70000, 1), {1136073600, 1136073601, 1136073602}},
      {"empty.txt", {}, {0, 0, 0}},
      {"sub\\readme.txt", Text(250), {1, 2, 3}},
      {"sub\\deep\\big.log", Text(300000), {0xFFFFFFFFu, 5, 6}},
      {std::string(255, 'n'), Bytes("x"), {7, 8, 9}},
  };
  const std::vector<std::uint8_t> image = Build(entries);
  const ArchiveDirectory dir = ReadArchiveDirectory(image.data(), image.size());
  ASSERT_TRUE(dir.ok()) << dir.error;
  ASSERT_EQ(dir.entries.size(), entries.size());
  std::uint32_t expectedOffset = 4;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ArchiveEntry& e = dir.entries[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.name, entries[i].name);
    EXPECT_EQ(e.dataOffset, expectedOffset);
    EXPECT_EQ(e.uncompressedLength, entries[i].bytes.size());
    EXPECT_EQ(e.times, entries[i].times);
    EXPECT_GE(e.compressedLength, 8u);
    EXPECT_EQ(image[e.dataOffset], 0x78);
    EXPECT_EQ(image[e.dataOffset + 1], 0x9C);
    std::vector<std::uint8_t> back;
    std::size_t largestPiece = 0;
    const EntryFault fault = InflateEntry(
        image.data() + e.dataOffset, e.compressedLength, e.uncompressedLength,
        [&](const std::uint8_t* p, std::size_t n) {
          back.insert(back.end(), p, p + n);
          largestPiece = std::max(largestPiece, n);
          return true;
        },
        nullptr);
    EXPECT_EQ(fault, EntryFault::kNone);
    EXPECT_EQ(back, entries[i].bytes);
    EXPECT_LE(largestPiece, 64u * 1024);
    expectedOffset += e.compressedLength;
  }
  EXPECT_EQ(dir.directoryOffset, expectedOffset);  // D right after the last entry
  // The directory ends exactly at the end: one more byte would be "after".
  std::size_t directoryBytes = 4;
  for (const PackEntry& e : entries) directoryBytes += kRecordFixedSize + e.name.size();
  EXPECT_EQ(image.size(), dir.directoryOffset + directoryBytes);
  // The same input always gives the same bytes.
  EXPECT_EQ(Build(entries), image);
}

TEST(ArchiveWriter, EmptyListGivesCountZeroAndBadNamesAreRefused) {
  EXPECT_EQ(Build({}), (std::vector<std::uint8_t>{4, 0, 0, 0, 0, 0, 0, 0}));
  for (const char* bad : {"..\\x", "C:\\x", "", "a/b"}) {
    std::vector<std::uint8_t> image;
    std::string error;
    EXPECT_FALSE(BuildArchive({{"fine.txt", {}, {}}, {bad, Bytes("x"), {}}}, &image, &error))
        << bad;
    EXPECT_NE(error.find("entry \""), std::string::npos) << error;
  }
}

// One packed entry whose stream the checks below damage.
struct Packed {
  std::vector<std::uint8_t> stream;
  std::uint32_t length;
};

Packed Pack(const std::vector<std::uint8_t>& bytes) {
  const std::vector<std::uint8_t> image = Build({{"x", bytes, {}}});
  const ArchiveDirectory dir = ReadArchiveDirectory(image.data(), image.size());
  const ArchiveEntry& e = dir.entries.at(0);
  return {std::vector<std::uint8_t>(image.begin() + e.dataOffset,
                                    image.begin() + e.dataOffset + e.compressedLength),
          e.uncompressedLength};
}

EntryFault Check(const std::vector<std::uint8_t>& stream, std::size_t compressed,
                 std::uint32_t length, std::string* error = nullptr) {
  return InflateEntry(stream.data(), static_cast<std::uint32_t>(compressed), length, nullptr,
                      error);
}

TEST(InflateEntry, NamesEachWayAStreamCanBeWrong) {
  const Packed p = Pack(Text(5000));
  std::string error;
  EXPECT_EQ(Check(p.stream, p.stream.size(), p.length), EntryFault::kNone);

  EXPECT_EQ(Check(p.stream, p.stream.size() - 1, p.length, &error), EntryFault::kTruncated);
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;

  std::vector<std::uint8_t> longer = p.stream;
  longer.push_back(0);
  EXPECT_EQ(Check(longer, longer.size(), p.length, &error), EntryFault::kTrailingBytes);

  EXPECT_EQ(Check(p.stream, p.stream.size(), p.length + 1, &error), EntryFault::kLengthMismatch);
  EXPECT_EQ(Check(p.stream, p.stream.size(), p.length - 1, &error), EntryFault::kLengthMismatch);

  std::vector<std::uint8_t> badCheck = p.stream;
  badCheck.back() ^= 0x01;  // last byte of the Adler-32
  EXPECT_EQ(Check(badCheck, badCheck.size(), p.length, &error), EntryFault::kDamaged);
  EXPECT_NE(error.find("incorrect data check"), std::string::npos) << error;

  std::vector<std::uint8_t> badHeader = p.stream;
  badHeader[1] = 0x9D;
  EXPECT_EQ(Check(badHeader, badHeader.size(), p.length), EntryFault::kDamaged);

  const std::vector<std::uint8_t> nothing(1, 0);
  EXPECT_EQ(Check(nothing, 0, 0), EntryFault::kNone);  // the empty file
  EXPECT_EQ(Check(nothing, 0, 5), EntryFault::kLengthMismatch);

  EXPECT_EQ(InflateEntry(p.stream.data(), static_cast<std::uint32_t>(p.stream.size()), p.length,
                         [](const std::uint8_t*, std::size_t) { return false; }, &error),
            EntryFault::kSinkFailed);
}

// A stream that inflates far beyond its record is stopped before its
// excess reaches the sink: at most the recorded length is handed on.
TEST(InflateEntry, HandsOnNoMoreThanTheRecordedLength) {
  const Packed bomb = Pack(std::vector<std::uint8_t>(8 << 20, 0x7A));
  std::uint64_t received = 0;
  EXPECT_EQ(InflateEntry(bomb.stream.data(), static_cast<std::uint32_t>(bomb.stream.size()), 1000,
                         [&](const std::uint8_t*, std::size_t n) {
                           received += n;
                           return true;
                         },
                         nullptr),
            EntryFault::kLengthMismatch);
  EXPECT_LE(received, 1000u);
}

TEST(InflateEntry, NoCutAndNoFlippedByteOfAStreamPasses) {
  // An incompressible entry (stored blocks) and a text entry (Huffman
  // coded): every truncation fails, and no flipped byte gives other bytes.
  for (const std::vector<std::uint8_t>& bytes : {Noise(300, 7), Text(2000)}) {
    const Packed p = Pack(bytes);
    for (std::size_t cut = 1; cut < p.stream.size(); ++cut) {
      EXPECT_NE(Check(p.stream, cut, p.length), EntryFault::kNone) << "cut at " << cut;
    }
    // Deflate ignores some bits (the padding after a stored block's
    // header), so a flip there may pass, but only with the same bytes.
    for (std::size_t at = 0; at < p.stream.size(); ++at) {
      std::vector<std::uint8_t> damaged = p.stream;
      damaged[at] ^= 0x20;
      std::vector<std::uint8_t> out;
      const EntryFault fault = InflateEntry(
          damaged.data(), static_cast<std::uint32_t>(damaged.size()), p.length,
          [&](const std::uint8_t* b, std::size_t n) {
            out.insert(out.end(), b, b + n);
            return true;
          },
          nullptr);
      EXPECT_TRUE(fault != EntryFault::kNone || out == bytes) << "flip at " << at;
    }
  }
}

}  // namespace
}  // namespace kv
