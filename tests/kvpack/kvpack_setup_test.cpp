// kvpack setup as a publisher runs it: a payload folder and the launcher
// stub in, a setup executable out; what lands in its resources, what makes
// it differ, and every refusal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "pe/pe_resources.h"
#include "tests/kvpack/kvpack_run.h"
#include "tools/kvpack/compress/parallel_deflate.h"
#include "pe/pe_checksum.h"
#include "tools/kvpack/setup/setup_check.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

using test::Bytes;
using test::kStamp;
using test::Quote;
using test::ReadFile;
using test::RunResult;
using test::WriteFile;

std::string Text(std::size_t n) {
  std::string out;
  for (std::size_t i = 0; out.size() < n; ++i) out += "line " + std::to_string(i % 977) + " of the readme\r\n";
  out.resize(n);
  return out;
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Little-endian packing for the crafted pictures and icons.
struct Builder {
  std::vector<std::uint8_t> b;
  Builder& u8(std::uint32_t v) { b.push_back(static_cast<std::uint8_t>(v)); return *this; }
  Builder& u16(std::uint32_t v) { return u8(v).u8(v >> 8); }
  Builder& u32(std::uint32_t v) { return u16(v).u16(v >> 16); }
  Builder& raw(const std::vector<std::uint8_t>& v) { b.insert(b.end(), v.begin(), v.end()); return *this; }
};

// A .bmp file: file header, 40-byte header, colour table, `gap` stray
// bytes, then the pixels.
std::vector<std::uint8_t> Bmp(int width, int height, int bits, std::uint32_t compression,
                              const std::vector<std::uint8_t>& pixels, std::uint32_t colours,
                              std::size_t gap = 0) {
  const std::uint32_t offset = 14 + 40 + 4 * colours + static_cast<std::uint32_t>(gap);
  Builder f;
  f.u8('B').u8('M').u32(offset + static_cast<std::uint32_t>(pixels.size())).u32(0).u32(offset);
  f.u32(40).u32(width).u32(height).u16(1).u16(bits).u32(compression)
      .u32(static_cast<std::uint32_t>(pixels.size())).u32(2835).u32(2835).u32(colours).u32(0);
  for (std::uint32_t i = 0; i < colours; ++i) f.u8(i).u8(255 - i).u8(i / 2).u8(0);
  f.raw(std::vector<std::uint8_t>(gap, 0xEE)).raw(pixels);
  return f.b;
}

void Put32(std::vector<std::uint8_t>* b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Writes the launcher stub, changed by `change` (given the bytes and the
// file offset of the named section's header), beside the payload, and asks
// for it with --stub.
void DamagedStub(const fs::path& payload, std::vector<std::string>* args, const char* section,
                 const std::function<void(std::vector<std::uint8_t>*, std::size_t)>& change) {
  std::vector<std::uint8_t> stub = ReadFile(KVPACK_STUB);
  const std::uint32_t pe = U32(stub, 0x3C);
  const std::size_t table = pe + 24 + (stub[pe + 20] | stub[pe + 21] << 8);
  std::size_t header = 0;
  for (std::size_t at = table; at < table + 40 * (stub[pe + 6] | stub[pe + 7] << 8); at += 40) {
    if (std::string(reinterpret_cast<const char*>(&stub[at])).substr(0, 8) == section) header = at;
  }
  ASSERT_NE(header, 0u) << section;
  change(&stub, header);
  const fs::path path = payload.parent_path() / (payload.filename().string() + "-stub.exe");
  WriteFile(path, stub);
  *args = {"--stub", path.string()};
}

// The PE checksum of `b`, its field at `at` counted as 0, as Windows sums it.
std::uint32_t PeChecksumOf(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
    if (i != at && i != at + 2) sum += b[i] | b[i + 1] << 8;
  }
  if (b.size() & 1) sum += b.back();
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + b.size());
}

class KvpackSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kvpack-setup-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    ASSERT_TRUE(fs::exists(KVPACK_STUB)) << "the launcher stub is built in the Windows tree";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
    EXPECT_FALSE(fs::exists(root_));
  }

  RunResult Kvpack(const std::vector<std::string>& args, const std::string& env = "",
                   const fs::path& cwd = {}) {
    return test::RunCommand((cwd.empty() ? "" : "cd " + Quote(cwd) + " && ") +
                                "env -u SOURCE_DATE_EPOCH " + env,
                            KVPACK_PATH, args, root_);
  }

  // The stand-ins' names, a readme that compresses, a ready archive for
  // SETUPBASE and an archive left for the second stage.
  fs::path MakePayload(const std::string& name) {
    const fs::path p = root_ / name;
    WriteFile(p / "BASE" / "StageRun.exe", Bytes("MZ stand-in of the second stage"));
    WriteFile(p / "BASE" / "holdproc.exe", Bytes("MZ stand-in of holdproc"));
    WriteFile(p / "BASE" / "Docs" / "Liesmich f\xC3\xBCr Sie.txt", Bytes(Text(200000)));
    WriteFile(root_ / "sb" / "Data" / "setup.ini", Bytes("[Setup]\r\n"));
    EXPECT_EQ(Kvpack({"pack", root_ / "sb", p / "SETUPBASE.kvarc"}).exitCode, 0);
    WriteFile(p / "APPBASE" / "App" / "app.dat", Bytes(Text(5000)));
    return p;
  }

  fs::path root_;
};

std::vector<PeResource> Resources(const std::vector<std::uint8_t>& exe, const char* type) {
  std::vector<PeResource> found;
  std::string error;
  EXPECT_TRUE(FindPeResources(exe.data(), exe.size(), type, &found, &error)) << error;
  return found;
}

TEST_F(KvpackSetupTest, BuildsTheSameSetupFromTheSamePayloadWhereverItRuns) {
  const fs::path payload = MakePayload("payload");
  fs::create_directories(root_ / "elsewhere");
  const RunResult first = Kvpack({"setup", payload, "-o", root_ / "a.exe"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_NE(first.out.find("3 archives (BASE SETUPBASE APPBASE), 5 entries"), std::string::npos)
      << first.out;
  EXPECT_EQ(first.err, "");
  ASSERT_EQ(Kvpack({"setup", "../payload", "-o", "b.exe"}, "", root_ / "elsewhere").exitCode, 0);
  const std::vector<std::uint8_t> a = ReadFile(root_ / "a.exe");
  EXPECT_EQ(a, ReadFile(root_ / "elsewhere" / "b.exe"));

  // Time stamp 0, or SOURCE_DATE_EPOCH, which also caps the entries' times.
  const std::uint32_t pe = U32(a, 0x3C);
  EXPECT_EQ(U32(a, pe + 8), 0u);
  ASSERT_EQ(Kvpack({"setup", payload, "-o", root_ / "c.exe"}, "SOURCE_DATE_EPOCH=1000000000").exitCode, 0);
  const std::vector<std::uint8_t> c = ReadFile(root_ / "c.exe");
  EXPECT_EQ(U32(c, pe + 8), 1000000000u);
  const std::vector<PeResource> archives = Resources(c, "KVArc");
  ASSERT_EQ(archives.size(), 3u);
  const ArchiveDirectory base = ReadArchiveDirectory(archives[1].data, archives[1].size);
  ASSERT_TRUE(base.ok()) << base.error;
  EXPECT_EQ(base.entries[0].times[1], 1000000000u);

  // The archives under their names and language 1031, each entry inflating
  // to its file; the readme packs at least as tightly as zlib's level 9.
  std::vector<std::string> names;
  for (const PeResource& r : Resources(a, "KVArc")) {
    names.push_back(r.name);
    EXPECT_EQ(r.language, kArchiveLanguage);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"APPBASE", "BASE", "SETUPBASE"}));
  const PeResource& baseResource = Resources(a, "KVArc")[1];
  const ArchiveDirectory dir = ReadArchiveDirectory(baseResource.data, baseResource.size);
  ASSERT_TRUE(dir.ok());
  ASSERT_EQ(dir.entries.size(), 3u);
  EXPECT_EQ(dir.entries[0].name, "Docs\\Liesmich f\xFCr Sie.txt");
  std::vector<std::uint8_t> back;
  ASSERT_EQ(InflateEntry(baseResource.data + dir.entries[0].dataOffset,
                         dir.entries[0].compressedLength, dir.entries[0].uncompressedLength,
                         [&](const std::uint8_t* p, std::size_t n) {
                           back.insert(back.end(), p, p + n);
                           return true;
                         },
                         nullptr),
            EntryFault::kNone);
  EXPECT_EQ(back, Bytes(Text(200000)));
  uLongf zlib9 = compressBound(static_cast<uLong>(back.size()));
  std::vector<Bytef> z(zlib9);
  ASSERT_EQ(compress2(z.data(), &zlib9, back.data(), static_cast<uLong>(back.size()), 9), Z_OK);
  EXPECT_LE(dir.entries[0].compressedLength, zlib9);
  // The ready archive went in as it was.
  EXPECT_EQ(std::vector<std::uint8_t>(Resources(a, "KVArc")[2].data,
                                      Resources(a, "KVArc")[2].data + Resources(a, "KVArc")[2].size),
            ReadFile(payload / "SETUPBASE.kvarc"));
  EXPECT_EQ(Kvpack({"verify", root_ / "a.exe"}).exitCode, 0);

  // A level of its own gives other bytes, still sound; a changed file time too.
  ASSERT_EQ(Kvpack({"setup", payload, "-o", root_ / "fast.exe", "--level", "1"}).exitCode, 0);
  EXPECT_NE(ReadFile(root_ / "fast.exe"), a);
  EXPECT_EQ(Kvpack({"verify", root_ / "fast.exe"}).exitCode, 0);
  const timespec later[2] = {{kStamp + 1, 0}, {kStamp + 1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (payload / "APPBASE" / "App" / "app.dat").c_str(), later, 0), 0);
  ASSERT_EQ(Kvpack({"setup", payload, "-o", root_ / "d.exe"}).exitCode, 0);
  EXPECT_NE(ReadFile(root_ / "d.exe"), a);
}

TEST_F(KvpackSetupTest, StreamsLargeFilesInChunksThatMakeOneZlibStreamEach) {
  const fs::path payload = MakePayload("payload");
  // Past two chunks: random bytes, then text; and one of exactly a chunk.
  std::vector<std::uint8_t> large(2 * kChunkSize + 12345);
  std::uint32_t x = 1;
  for (std::size_t i = 0; i < kChunkSize; ++i) large[i] = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 23);
  const std::string text = Text(large.size() - kChunkSize);
  std::copy(text.begin(), text.end(), large.begin() + kChunkSize);
  WriteFile(payload / "APPBASE" / "large.bin", large);
  const std::vector<std::uint8_t> chunkText = Bytes(Text(kChunkSize));
  WriteFile(payload / "APPBASE" / "chunk.txt", chunkText);
  ASSERT_EQ(Kvpack({"setup", payload, "-o", root_ / "a.exe"}).exitCode, 0);
  ASSERT_EQ(Kvpack({"setup", payload, "-o", root_ / "b.exe"}).exitCode, 0);
  const std::vector<std::uint8_t> a = ReadFile(root_ / "a.exe");
  EXPECT_EQ(a, ReadFile(root_ / "b.exe"));
  // The checksum summed on the way is the file's.
  const std::uint32_t optional = U32(a, 0x3C) + 24;
  EXPECT_EQ(U32(a, optional + 64), PeChecksum(a, optional + 64));

  const PeResource appbase = Resources(a, "KVArc").at(0);
  const ArchiveDirectory dir = ReadArchiveDirectory(appbase.data, appbase.size);
  ASSERT_TRUE(dir.ok()) << dir.error;
  ASSERT_EQ(dir.entries.size(), 3u);
  for (const auto& [index, expected] :
       {std::pair<std::size_t, std::vector<std::uint8_t>>{1, chunkText}, {2, large}}) {
    const ArchiveEntry& e = dir.entries[index];
    std::vector<std::uint8_t> back;
    std::string why;
    EXPECT_EQ(InflateEntry(appbase.data + e.dataOffset, e.compressedLength, e.uncompressedLength,
                           [&](const std::uint8_t* p, std::size_t n) {
                             back.insert(back.end(), p, p + n);
                             return true;
                           },
                           &why),
              EntryFault::kNone)
        << e.name << ": " << why;
    EXPECT_TRUE(back == expected) << e.name;
  }
  // The file of one chunk is packed whole, as ZlibStream packs it.
  const ArchiveEntry& chunk = dir.entries[1];
  const std::vector<std::uint8_t> whole = ZlibStream(chunkText.data(), chunkText.size(), 9);
  EXPECT_TRUE(std::equal(whole.begin(), whole.end(), appbase.data + chunk.dataOffset) &&
              whole.size() == chunk.compressedLength);
}

TEST_F(KvpackSetupTest, PutsThePublishersPictureIconAndVersionInPlaceOfTheStubs) {
  const fs::path payload = MakePayload("payload");
  // 8 bits, 5 x 3 pixels (rows of 8 bytes), 16 colours, 6 stray bytes
  // before the pixels that the DIB must not keep.
  std::vector<std::uint8_t> pixels(24);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i % 16);
  WriteFile(root_ / "splash.bmp", Bmp(5, 3, 8, 0, pixels, 16, 6));
  // Two images: a 16 x 16 bitmap image and a PNG one.
  std::vector<std::uint8_t> image1 = Builder().u32(40).u32(16).u32(32).u16(1).u16(32).u32(0).u32(0)
                                         .u32(0).u32(0).u32(0).u32(0).b;
  image1.resize(40 + 16 * 16 * 4 + 16 * 4, 0x55);
  const std::vector<std::uint8_t> image2 = Bytes("\x89PNG\r\n\x1a\n pretend png bytes");
  Builder ico;
  ico.u16(0).u16(1).u16(2);
  ico.u8(16).u8(16).u8(0).u8(0).u16(1).u16(32).u32(static_cast<std::uint32_t>(image1.size())).u32(6 + 32);
  ico.u8(0).u8(0).u8(0).u8(0).u16(1).u16(32).u32(static_cast<std::uint32_t>(image2.size()))
      .u32(static_cast<std::uint32_t>(6 + 32 + image1.size()));
  ico.raw(image1).raw(image2);
  WriteFile(root_ / "app.ico", ico.b);

  const RunResult run = Kvpack({"setup", payload, "-o", root_ / "Branded.exe", "--splash",
                                root_ / "splash.bmp", "--icon", root_ / "app.ico", "--version",
                                "2.5.0.7", "--product", "Kalvora Photo", "--description",
                                "Kalvora Photo Setup", "--company", "Kalvora", "--copyright",
                                "\xC2\xA9 2026 Kalvora"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::uint8_t> exe = ReadFile(root_ / "Branded.exe");
  const std::vector<std::uint8_t> stub = ReadFile(KVPACK_STUB);

  const std::vector<PeResource> bitmaps = Resources(exe, "#2");
  ASSERT_EQ(bitmaps.size(), 1u);
  EXPECT_EQ(bitmaps[0].name, "#134");
  const std::vector<std::uint8_t> file = Bmp(5, 3, 8, 0, pixels, 16);
  const std::vector<std::uint8_t> dib(file.begin() + 14, file.end());
  EXPECT_EQ(std::vector<std::uint8_t>(bitmaps[0].data, bitmaps[0].data + bitmaps[0].size), dib);
  // The stub's own picture is gone from the file, not left behind.
  const PeResource stubPicture = Resources(stub, "#2").at(0);
  const std::vector<std::uint8_t> probe(stubPicture.data + 1000, stubPicture.data + 1256);
  EXPECT_EQ(std::search(exe.begin(), exe.end(), probe.begin(), probe.end()), exe.end());

  const std::vector<PeResource> groups = Resources(exe, "#14");
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].name, "#101");
  ASSERT_EQ(groups[0].size, 6u + 2 * 14);
  EXPECT_EQ(groups[0].data[4], 2);
  const std::vector<PeResource> icons = Resources(exe, "#3");
  ASSERT_EQ(icons.size(), 2u);  // the stub's nine are gone
  EXPECT_EQ(std::vector<std::uint8_t>(icons[1].data, icons[1].data + icons[1].size), image2);

  const std::vector<PeResource> versions = Resources(exe, "#16");
  ASSERT_EQ(versions.size(), 1u);
  auto has = [&](const std::string& ascii) {
    std::vector<std::uint8_t> wide;
    for (char ch : ascii) wide.insert(wide.end(), {static_cast<std::uint8_t>(ch), 0});
    return std::search(versions[0].data, versions[0].data + versions[0].size, wide.begin(),
                       wide.end()) != versions[0].data + versions[0].size;
  };
  for (const char* text : {"FileDescription", "Kalvora Photo Setup", "ProductName", "2.5.0.7",
                           "OriginalFilename", "Branded.exe", "LegalCopyright"}) {
    EXPECT_TRUE(has(text)) << text;
  }
  EXPECT_EQ(Kvpack({"verify", root_ / "Branded.exe"}).exitCode, 0);
}

// The read-back kvpack makes of each setup before it is put in place: it
// passes what kvpack built and finds each way the bytes can differ.
TEST_F(KvpackSetupTest, ReadsBackTheSetupItBuiltAndFindsEveryDifference) {
  const fs::path payload = MakePayload("payload");
  ASSERT_EQ(Kvpack({"setup", payload, "-o", root_ / "a.exe"}).exitCode, 0);
  const std::vector<std::uint8_t> built = ReadFile(root_ / "a.exe");
  std::vector<BuiltArchive> archives;
  for (const PeResource& r : Resources(built, "KVArc")) {
    archives.push_back({r.name, r.size, ReadArchiveDirectory(r.data, r.size).count});
  }
  std::string error;
  EXPECT_TRUE(CheckBuiltSetup(built.data(), built.size(), archives, true, &error)) << error;

  const std::uint32_t checksumAt = U32(built, 0x3C) + 24 + 64;
  const PeResource base = Resources(built, "KVArc").at(1);
  const std::size_t stream = base.fileOffset + ReadArchiveDirectory(base.data, base.size)
                                                   .entries.at(0).dataOffset + 20;
  const struct {
    const char* what;
    std::function<void(std::vector<std::uint8_t>*, std::vector<BuiltArchive>*)> change;
    const char* message;
  } cases[] = {
      {"checksum", [&](auto* b, auto*) { (*b)[checksumAt] ^= 1; }, "CheckSum"},
      {"an archive missing", [](auto*, auto* a) { a->push_back({"KVIMAGE", 10, 1}); },
       "3 archives, not 4"},
      {"an archive of another size", [](auto*, auto* a) { (*a)[0].size += 1; },
       "archive APPBASE is not there as built"},
      {"an entry that does not inflate",
       [&](auto* b, auto*) {
         (*b)[stream] ^= 0x55;
         Put32(b, checksumAt, 0);
         Put32(b, checksumAt, PeChecksumOf(*b, checksumAt));
       },
       "archive BASE: entry"},
      {"a file cut short", [](auto* b, auto*) { b->resize(b->size() - 0x200); }, "outside the file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = built;
    std::vector<BuiltArchive> expected = archives;
    c.change(&bytes, &expected);
    EXPECT_FALSE(CheckBuiltSetup(bytes.data(), bytes.size(), expected, true, &error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST_F(KvpackSetupTest, RefusesWhatWouldGiveABrokenSetupAndLeavesTheOutputAlone) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& payload, std::vector<std::string>* args)> make;
    const char* message;
  };
  const Case cases[] = {
      {"no payload folder", [](const fs::path& p, auto*) { fs::remove_all(p); }, "No such file"},
      {"empty payload folder",
       [](const fs::path& p, auto*) {
         fs::remove_all(p);
         fs::create_directories(p);
       },
       "payload folder is empty"},
      {"entry that is no archive name",
       [](const fs::path& p, auto*) { WriteFile(p / "Base", Bytes("x")); },
       "not an archive folder or <NAME>.kvarc file"},
      {"both forms of one archive",
       [](const fs::path& p, auto*) { fs::copy_file(p / "SETUPBASE.kvarc", p / "BASE.kvarc"); },
       "keep one"},
      {"name outside Windows-1252",
       [](const fs::path& p, auto*) { WriteFile(p / "BASE" / "\xD0\x96.txt", Bytes("x")); },
       "Windows-1252"},
      {"character Windows forbids",
       [](const fs::path& p, auto*) { WriteFile(p / "BASE" / "a?b.txt", Bytes("x")); },
       "holds a colon, a slash"},
      {"trailing dot", [](const fs::path& p, auto*) { WriteFile(p / "BASE" / "notes.", Bytes("x")); },
       "ends in a dot or blank"},
      {"target path beyond the launcher's limit",
       [](const fs::path& p, auto*) { WriteFile(p / "BASE" / "d" / std::string(246, 'n'), Bytes("x")); },
       "the launcher's target paths take at most 259"},
      {"file beyond the format's 4 GiB",
       [](const fs::path& p, auto*) {
         WriteFile(p / "APPBASE" / "huge.bin", {});
         fs::resize_file(p / "APPBASE" / "huge.bin", 0x100000000ull);
       },
       "below 4 GiB only"},
      {"no StageRun.exe", [](const fs::path& p, auto*) { fs::remove(p / "BASE" / "StageRun.exe"); },
       "no StageRun.exe at the top"},
      {"StageRun.exe only in the second stage's archive",
       [](const fs::path& p, auto*) {
         fs::rename(p / "BASE" / "StageRun.exe", p / "APPBASE" / "StageRun.exe");
       },
       "the launcher would start nothing"},
      {"damaged ready archive",
       [](const fs::path& p, auto*) {
         // The last byte of its one entry's Adler-32, just before the
         // directory: a bit no inflater may ignore.
         std::vector<std::uint8_t> a = ReadFile(p / "SETUPBASE.kvarc");
         a[U32(a, 0) - 1] ^= 0x20;
         WriteFile(p / "SETUPBASE.kvarc", a);
       },
       "damaged archive"},
      {"32-bit splash picture",
       [](const fs::path& p, std::vector<std::string>* args) {
         WriteFile(p.parent_path() / "deep.bmp", Bmp(2, 2, 32, 0, std::vector<std::uint8_t>(16), 0));
         *args = {"--splash", (p.parent_path() / "deep.bmp").string()};
       },
       "the splash shows uncompressed 8- or 24-bit pictures and RLE8 ones"},
      {"RLE8 splash picture with a delta",
       [](const fs::path& p, std::vector<std::string>* args) {
         WriteFile(p.parent_path() / "delta.bmp",
                   Bmp(4, 2, 8, 1, {4, 1, 0, 0, 0, 2, 1, 0, 4, 2, 0, 1}, 2));
         *args = {"--splash", (p.parent_path() / "delta.bmp").string()};
       },
       "delta codes"},
      {"splash picture whose rows are missing",
       [](const fs::path& p, std::vector<std::string>* args) {
         WriteFile(p.parent_path() / "short.bmp", Bmp(100, 100, 24, 0, std::vector<std::uint8_t>(300), 0));
         *args = {"--splash", (p.parent_path() / "short.bmp").string()};
       },
       "whose rows need 30000 bytes"},
      {"setup larger than the image a 32-bit process maps",
       [](const fs::path& p, auto*) {
         // A ready archive of that size without entries, sparse on disk.
         const std::uint32_t size = 0x7C000000;
         std::vector<std::uint8_t> head = Builder().u32(size - 4).b;
         WriteFile(p / "APPBASE.kvarc", head);
         fs::remove_all(p / "APPBASE");
         fs::resize_file(p / "APPBASE.kvarc", size);
       },
       "a 32-bit Windows process maps at most 2080374784"},
      {"a resource section without bytes, 1 GiB into the stub",
       [](const fs::path& p, std::vector<std::string>* args) {
         DamagedStub(p, args, ".rsrc", [](std::vector<std::uint8_t>* b, std::size_t h) {
           Put32(b, h + 16, 0);
           Put32(b, h + 20, 0x40000000u);
         });
       },
       "cannot be used as the launcher stub: section 10 (.rsrc): its bytes 1073741824 + 0 lie "
       "outside the file"},
      {"a resource section inside the stub's headers",
       [](const fs::path& p, std::vector<std::string>* args) {
         DamagedStub(p, args, ".rsrc", [](std::vector<std::uint8_t>* b, std::size_t h) {
           Put32(b, h + 20, 0x200);
         });
       },
       "cannot be used as the launcher stub: section 10 (.rsrc): its bytes start at 512, inside "
       "the headers"},
      {"code bytes behind the resource section, in a section named to clear the terminal",
       [](const fs::path& p, std::vector<std::string>* args) {
         DamagedStub(p, args, ".text", [](std::vector<std::uint8_t>* b, std::size_t h) {
           Put32(b, h + 16, 0x1000);
           Put32(b, h + 20, static_cast<std::uint32_t>(b->size() - 0x1000));
           std::memcpy(&(*b)[h], "\x1b[2J\0\0\0", 8);
         });
       },
       "cannot be used as the launcher stub: section \\x1B[2J has bytes behind the start of the "
       "resource section's"},
      {"a section that overlaps the resource section in memory",
       [](const fs::path& p, std::vector<std::string>* args) {
         DamagedStub(p, args, ".tls", [](std::vector<std::uint8_t>* b, std::size_t h) {
           Put32(b, h + 8, 0x2000);
         });
       },
       "cannot be used as the launcher stub: section 10 (.rsrc): its address"},
      {"icon images that share their bytes",
       [](const fs::path& p, std::vector<std::string>* args) {
         std::vector<std::uint8_t> image = Builder().u32(40).u32(16).u32(32).u16(1).u16(32).b;
         image.resize(100, 0);
         Builder ico;
         ico.u16(0).u16(1).u16(2);
         for (int i = 0; i < 2; ++i) ico.u8(16).u8(16).u8(0).u8(0).u16(1).u16(32).u32(100).u32(38);
         ico.raw(image);
         WriteFile(p.parent_path() / "shared.ico", ico.b);
         *args = {"--icon", (p.parent_path() / "shared.ico").string()};
       },
       "shared.ico: cannot be the program icon: images 1 and 2 share bytes"},
      {"a ready archive whose entries share their data",
       [](const fs::path& p, auto*) {
         std::vector<std::uint8_t> a = ReadFile(p / "SETUPBASE.kvarc");
         const ArchiveDirectory dir = ReadArchiveDirectory(a.data(), a.size());
         std::vector<std::uint8_t> twice(a.begin(), a.begin() + dir.directoryOffset);
         Builder d;
         d.u32(2);
         for (const char* name : {"one.txt", "two.txt"}) {
           d.u8(7).raw(Bytes(name)).u32(4).u32(dir.entries[0].compressedLength)
               .u32(dir.entries[0].uncompressedLength).u32(0).u32(0).u32(0);
         }
         twice.insert(twice.end(), d.b.begin(), d.b.end());
         WriteFile(p / "SETUPBASE.kvarc", twice);
       },
       "damaged archive: entries \"one.txt\" and \"two.txt\" share data bytes"},
      {"a name of the form of a short name another archive's file gets",
       [](const fs::path& p, auto*) { WriteFile(p / "SETUPPHOTO" / "DOCS" / "LIESMI~1.TXT", Bytes("x")); },
       "has the form of the short name Windows may give to"},
      {"a file in one archive where another has a folder",
       [](const fs::path& p, auto*) { WriteFile(p / "KVIMAGE" / "docs", Bytes("x")); },
       "a file and a folder of one name for Windows"},
      {"a device name in an archive left for the second stage",
       [](const fs::path& p, auto*) { WriteFile(p / "APPBASE" / "CONIN$", Bytes("x")); },
       "\"CONIN$\" names a device"},
      {"a splash picture that is a device, read before anything else",
       [](const fs::path&, std::vector<std::string>* args) { *args = {"--splash", "/dev/zero"}; },
       "/dev/zero: not a regular file"},
      {"a stub that is a pipe",
       [](const fs::path& p, std::vector<std::string>* args) {
         ASSERT_EQ(mkfifo((p.parent_path() / "stub.pipe").c_str(), 0600), 0);
         *args = {"--stub", (p.parent_path() / "stub.pipe").string()};
       },
       "stub.pipe: not a regular file"},
      {"not an icon",
       [](const fs::path& p, std::vector<std::string>* args) {
         WriteFile(p.parent_path() / "x.ico", Bytes("GIF89a"));
         *args = {"--icon", (p.parent_path() / "x.ico").string()};
       },
       "cannot be the program icon"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path payload = MakePayload("in" + std::to_string(n++));
    std::vector<std::string> extra;
    c.make(payload, &extra);
    const fs::path out = root_ / "Setup.exe";
    WriteFile(out, Bytes("the previous build"));
    std::vector<std::string> args = {"setup", payload, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult run = Kvpack(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(ReadFile(out), Bytes("the previous build"));
    EXPECT_FALSE(fs::exists(out.string() + ".kvpack-tmp"));
  }

  // No StageRun.exe is let through on request; no holdproc.exe is a warning.
  const fs::path payload = MakePayload("stageless");
  fs::remove(payload / "BASE" / "StageRun.exe");
  fs::remove(payload / "BASE" / "holdproc.exe");
  const RunResult allowed =
      Kvpack({"setup", payload, "-o", root_ / "Stageless.exe", "--allow-missing-stage"});
  EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
  EXPECT_NE(allowed.err.find("warning: "), std::string::npos);
  EXPECT_NE(allowed.err.find("no holdproc.exe"), std::string::npos) << allowed.err;
  EXPECT_EQ(Kvpack({"setup", payload}).exitCode, 2);
  EXPECT_EQ(Kvpack({"setup", payload, "-o", root_ / "x.exe", "--level", "0"}).exitCode, 2);
  EXPECT_EQ(Kvpack({"setup", payload, "-o", root_ / "x.exe", "--version", "1.2.x"}).exitCode, 2);
}

}  // namespace
}  // namespace kv
