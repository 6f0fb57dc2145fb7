// kvpack as a user runs it: folders on disk in, archive files and
// executables out, exit codes and messages checked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "tests/archive_format/archive_bytes.h"
#include "tests/pe/pe_image_builder.h"
#include "tests/kvpack/kvpack_run.h"
#include "tools/kvpack/compress/parallel_deflate.h"
#include "tools/kvpack/host/host_files.h"
#include "tools/kvpack/payload/folder_scan.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

using test::Bytes;
using test::kStamp;
using test::Quote;
using test::ReadFile;
using test::ReadText;
using test::RunResult;
using test::WriteFile;

std::vector<std::uint8_t> Noise(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  std::uint32_t seed = 12345;
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return out;
}

class KvpackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kvpack-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
    EXPECT_FALSE(fs::exists(root_));
  }

  RunResult Kvpack(const std::vector<std::string>& args, const std::string& env = "") {
    return test::RunCommand(env, KVPACK_PATH, args, root_);
  }

  fs::path root_;
};

// A payload folder like a vendor's: a program, a non-ASCII name, an empty
// file and two folder levels.
void MakePayload(const fs::path& in) {
  WriteFile(in / "StageRun.exe", Noise(50000));
  WriteFile(in / "Gr\xC3\xB6\xC3\x9F" "e.txt", Bytes("Gr\xF6\xDF" "e\r\n"));
  WriteFile(in / "sub" / "readme.txt", Bytes(std::string(3000, 'r')));
  WriteFile(in / "sub" / "deep" / "x.dat", {});
}

TEST_F(KvpackTest, PacksAFolderThatReadsBackFileForFile) {
  const fs::path in = root_ / "payload";
  MakePayload(in);
  const fs::path archive = root_ / "BASE.kvarc";
  const RunResult pack = Kvpack({"pack", in, archive});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_NE(pack.out.find("4 entries"), std::string::npos) << pack.out;

  const std::vector<std::uint8_t> image = ReadFile(archive);
  const ArchiveDirectory dir = ReadArchiveDirectory(image.data(), image.size());
  ASSERT_TRUE(dir.ok()) << dir.error;
  // Byte order of the Windows-1252 names, backslash-separated.
  const std::vector<std::pair<std::string, fs::path>> expected = {
      {"Gr\xF6\xDF" "e.txt", in / "Gr\xC3\xB6\xC3\x9F" "e.txt"},
      {"StageRun.exe", in / "StageRun.exe"},
      {"sub\\deep\\x.dat", in / "sub" / "deep" / "x.dat"},
      {"sub\\readme.txt", in / "sub" / "readme.txt"},
  };
  ASSERT_EQ(dir.entries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ArchiveEntry& e = dir.entries[i];
    EXPECT_EQ(e.name, expected[i].first);
    EXPECT_EQ(e.times, (std::array<std::uint32_t, 3>{kStamp, kStamp, kStamp}));
    std::vector<std::uint8_t> back;
    EXPECT_EQ(InflateEntry(image.data() + e.dataOffset, e.compressedLength, e.uncompressedLength,
                           [&](const std::uint8_t* p, std::size_t n) {
                             back.insert(back.end(), p, p + n);
                             return true;
                           },
                           nullptr),
              EntryFault::kNone);
    EXPECT_EQ(back, ReadFile(expected[i].second)) << e.name;
  }

  // Packing again gives the same bytes, also past a link planted at the
  // temporary name, which is not written through; SOURCE_DATE_EPOCH caps
  // the times.
  const fs::path again = root_ / "again.kvarc";
  WriteFile(root_ / "victim", Bytes("not kvpack's"));
  fs::create_symlink(root_ / "victim", root_ / "again.kvarc.kvpack-tmp");
  ASSERT_EQ(Kvpack({"pack", in, again}).exitCode, 0);
  EXPECT_EQ(ReadFile(again), image);
  EXPECT_EQ(ReadText(root_ / "victim"), "not kvpack's");
  EXPECT_TRUE(fs::is_symlink(root_ / "again.kvarc.kvpack-tmp"));
  ASSERT_EQ(Kvpack({"pack", in, again}, "SOURCE_DATE_EPOCH=1000000000").exitCode, 0);
  const std::vector<std::uint8_t> capped = ReadFile(again);
  const ArchiveDirectory cappedDir = ReadArchiveDirectory(capped.data(), capped.size());
  ASSERT_TRUE(cappedDir.ok());
  EXPECT_EQ(cappedDir.entries[0].times[1], 1000000000u);
}

TEST_F(KvpackTest, ListsAndVerifiesAnArchiveAndCatchesOneFlippedByte) {
  const fs::path in = root_ / "payload";
  MakePayload(in);
  const fs::path archive = root_ / "BASE.kvarc";
  ASSERT_EQ(Kvpack({"pack", in, archive}).exitCode, 0);

  const RunResult list = Kvpack({"list", archive});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  for (const char* shown : {"4 entries", "Gr\xC3\xB6\xC3\x9F" "e.txt", "sub\\deep\\x.dat",
                            "StageRun.exe", "2006-01-01 00:00:00", "50000"}) {
    EXPECT_NE(list.out.find(shown), std::string::npos) << shown << "\n" << list.out;
  }

  const RunResult verify = Kvpack({"verify", archive});
  EXPECT_EQ(verify.exitCode, 0) << verify.err;
  EXPECT_NE(verify.out.find("ok: 1 archive, 4 entries, 53007 bytes"), std::string::npos)
      << verify.out;

  // One flipped byte in the middle of StageRun.exe's data.
  std::vector<std::uint8_t> image = ReadFile(archive);
  const ArchiveDirectory dir = ReadArchiveDirectory(image.data(), image.size());
  ASSERT_EQ(dir.entries.at(1).name, "StageRun.exe");
  image[dir.entries[1].dataOffset + dir.entries[1].compressedLength / 2] ^= 0x01;
  const fs::path damaged = root_ / "damaged.kvarc";
  WriteFile(damaged, image);
  const RunResult bad = Kvpack({"verify", damaged});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("entry \"StageRun.exe\""), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("incorrect data check"), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("1 fault"), std::string::npos) << bad.err;

  // A truncated archive breaks a bound: refused, with the numbers.
  image = ReadFile(archive);
  image.resize(image.size() - 10);
  const fs::path cut = root_ / "cut.kvarc";
  WriteFile(cut, image);
  const RunResult truncated = Kvpack({"verify", cut});
  EXPECT_EQ(truncated.exitCode, 1);
  EXPECT_NE(truncated.err.find("past the end"), std::string::npos) << truncated.err;
  EXPECT_EQ(Kvpack({"list", cut}).exitCode, 1);

  // Twenty records on one stream: damage, found without inflating it twenty
  // times (the stream inflates to 64 MB, the records say so).
  std::vector<std::uint8_t> zeros(64 << 20);
  uLongf packed = compressBound(static_cast<uLong>(zeros.size()));
  std::vector<std::uint8_t> stream(packed);
  ASSERT_EQ(compress2(stream.data(), &packed, zeros.data(), static_cast<uLong>(zeros.size()), 9),
            Z_OK);
  stream.resize(packed);
  test::ArchiveBytes shared;
  shared.U32(static_cast<std::uint32_t>(4 + packed)).Raw(stream).U32(20);
  for (int i = 0; i < 20; ++i) {
    shared.Record("f" + std::to_string(100 + i), 4, static_cast<std::uint32_t>(packed),
                  static_cast<std::uint32_t>(zeros.size()));
  }
  WriteFile(root_ / "shared.kvarc", shared.bytes());
  for (const char* command : {"list", "verify"}) {
    const RunResult run = Kvpack({command, root_ / "shared.kvarc"});
    EXPECT_EQ(run.exitCode, 1) << command;
    EXPECT_NE(run.err.find("entries \"f100\" and \"f101\" share data bytes"), std::string::npos)
        << run.err;
  }
}

TEST_F(KvpackTest, ListsAndVerifiesTheArchivesInsideAnExecutable) {
  WriteFile(root_ / "a" / "StageRun.exe", Noise(5000));
  WriteFile(root_ / "a" / "bin" / "holdproc.exe", Bytes("hold"));
  WriteFile(root_ / "b" / "version.txt", Bytes("1.0.0.0"));
  ASSERT_EQ(Kvpack({"pack", root_ / "a", root_ / "a.kvarc"}).exitCode, 0);
  ASSERT_EQ(Kvpack({"pack", root_ / "b", root_ / "b.kvarc"}).exitCode, 0);
  // A resource name and an entry name that would drive a terminal.
  std::vector<std::uint8_t> hostile;
  std::string error;
  ASSERT_TRUE(BuildArchive({{"del\x7F\x9B.txt", Bytes("x"), {}}}, &hostile, &error)) << error;
  const test::PeImage exe = test::BuildPeImage({
      {"KVARC", "BASE", kArchiveLanguage, ReadFile(root_ / "a.kvarc")},
      {"KVARC", "KVVERSION", kArchiveLanguage, ReadFile(root_ / "b.kvarc")},
      {"KVARC", "\x1B]0;owned\x07\x1B[2K\r", kArchiveLanguage, hostile},
      {"#10", "#1", 0, Bytes("not an archive")},
  });
  const fs::path setup = root_ / "Setup.exe";
  WriteFile(setup, exe.bytes);

  const RunResult list = Kvpack({"list", setup});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  for (const char* shown : {"resource BASE (language 1031): 2 entries",
                            "resource KVVERSION (language 1031): 1 entries", "bin\\holdproc.exe",
                            "version.txt", "resource \\x1B]0;owned\\x07\\x1B[2K\\x0D (language",
                            "del\\x7F\xE2\x80\xBA.txt"}) {
    EXPECT_NE(list.out.find(shown), std::string::npos) << shown << "\n" << list.out;
  }
  EXPECT_EQ(list.out.find_first_of("\x1B\x07\r\x7F"), std::string::npos) << list.out;
  const RunResult verify = Kvpack({"verify", setup});
  EXPECT_EQ(verify.exitCode, 0) << verify.err;
  EXPECT_NE(verify.out.find("ok: 3 archives, 4 entries"), std::string::npos) << verify.out;

  // Damage the stream of KVVERSION's only entry, inside the executable.
  std::vector<std::uint8_t> bytes = exe.bytes;
  bytes[exe.dataOffsets[1] + 4 + 3] ^= 0x40;
  const fs::path damaged = root_ / "Damaged.exe";
  WriteFile(damaged, bytes);
  const RunResult bad = Kvpack({"verify", damaged});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("resource KVVERSION (language 1031): entry \"version.txt\""),
            std::string::npos)
      << bad.err;

  // An executable that carries no archive is not a setup.
  const fs::path plain = root_ / "Plain.exe";
  WriteFile(plain, test::BuildPeImage({{"#10", "#1", 0, Bytes("x")}}).bytes);
  const RunResult none = Kvpack({"verify", plain});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.err.find("without any KVArc resource"), std::string::npos) << none.err;
}

// One case of a table: what `make` does to a path, and the message kvpack
// gives for it.
struct PathCase {
  const char* what;
  std::function<void(const fs::path&)> make;
  const char* message;
};

TEST_F(KvpackTest, RefusesWhatNoArchiveCanCarryAndWritesNothing) {
  const PathCase cases[] = {
      {"symbolic link",
       [](const fs::path& in) {
         WriteFile(in / "a.txt", Bytes("a"));
         fs::create_symlink("a.txt", in / "link.txt");
       },
       "symbolic link"},
      {"empty folder",
       [](const fs::path& in) {
         WriteFile(in / "a.txt", Bytes("a"));
         fs::create_directories(in / "nothing");
       },
       "empty folder"},
      {"names that differ in case only",
       [](const fs::path& in) {
         WriteFile(in / "Setup.ini", Bytes("a"));
         WriteFile(in / "SETUP.INI", Bytes("b"));
       },
       "ignores case"},
      {"names that differ in the case of a letter beyond ASCII",
       [](const fs::path& in) {
         WriteFile(in / "\xC3\x84.txt", Bytes("a"));
         WriteFile(in / "\xC3\xA4.txt", Bytes("b"));
       },
       "\xC3\x84.txt for Windows, which ignores case"},
      {"a backslash in a host name",
       [](const fs::path& in) { WriteFile(in / "a\\b.txt", Bytes("a")); }, "holds a backslash"},
      {"a port numbered 0", [](const fs::path& in) { WriteFile(in / "COM0", Bytes("a")); },
       "\"COM0\" names a device"},
      {"the console", [](const fs::path& in) { WriteFile(in / "d" / "conout$.log", Bytes("a")); },
       "\"conout$.log\" names a device"},
      {"the form of another name's short name",
       [](const fs::path& in) {
         WriteFile(in / "LongFileName.txt", Bytes("a"));
         WriteFile(in / "LONGFI~1.TXT", Bytes("b"));
       },
       "LONGFI~1.TXT: \"LONGFI~1.TXT\" has the form of the short name Windows may give to"},
      {"file and folder that differ in case only",
       [](const fs::path& in) {
         WriteFile(in / "data", Bytes("a"));
         WriteFile(in / "DATA" / "x.txt", Bytes("b"));
       },
       "ignores case"},
      {"name over 255 bytes",
       [](const fs::path& in) { WriteFile(in / "dir" / std::string(252, 'n'), Bytes("a")); },
       "longer than 255"},
      {"colon", [](const fs::path& in) { WriteFile(in / "a:b.txt", Bytes("a")); }, "colon"},
      {"device name", [](const fs::path& in) { WriteFile(in / "con.txt", Bytes("a")); }, "device"},
      {"name not in UTF-8",
       [](const fs::path& in) { WriteFile(in / "\xE9t\xE9.txt", Bytes("a")); },
       "Windows-1252"},
      {"character Windows-1252 lacks",
       [](const fs::path& in) { WriteFile(in / "\xE4\xB8\xAD.txt", Bytes("a")); },
       "Windows-1252"},
      {"a pipe",
       [](const fs::path& in) {
         fs::create_directories(in);
         ASSERT_EQ(mkfifo((in / "pipe").c_str(), 0600), 0);
       },
       "not a regular file"},
      {"no file at all", [](const fs::path& in) { fs::create_directories(in / "a"); },
       "empty folder"},
      {"empty folder as input", [](const fs::path& in) { fs::create_directories(in); },
       "no file"},
      {"a file instead of a folder", [](const fs::path& in) { WriteFile(in, Bytes("a")); },
       "not a folder"},
      {"nothing there", [](const fs::path&) {}, "No such file"},
  };
  int n = 0;
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path in = root_ / ("in" + std::to_string(n));
    const fs::path archive = root_ / ("out" + std::to_string(n++) + ".kvarc");
    c.make(in);
    const RunResult run = Kvpack({"pack", in, archive});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(archive));
    EXPECT_FALSE(fs::exists(archive.string() + ".kvpack-tmp"));
  }
  EXPECT_EQ(Kvpack({"pack", root_}).exitCode, 2);
  EXPECT_EQ(Kvpack({"unpack", root_, root_}).exitCode, 2);
  EXPECT_EQ(Kvpack({}).exitCode, 2);
  const RunResult missing = Kvpack({"verify", root_ / "missing.kvarc"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("missing.kvarc"), std::string::npos);
  // A pipe to list is refused at once, not waited on.
  ASSERT_EQ(mkfifo((root_ / "pipe").c_str(), 0600), 0);
  const RunResult pipe = Kvpack({"list", root_ / "pipe"});
  EXPECT_EQ(pipe.exitCode, 1);
  EXPECT_NE(pipe.err.find("pipe: not a regular file"), std::string::npos) << pipe.err;
}

// Each payload file is opened when it is read, once, and must still be the
// file the scan saw: one that another program swaps in between is refused by
// name, never followed or waited on. No file stays open from the scan to the
// compression, so a payload of many files meets no open-file limit.
TEST_F(KvpackTest, ReadsEachFileAsTheScanSawIt) {
  const PathCase swaps[] = {
      {"a link in its place",
       [](const fs::path& f) {
         WriteFile(f.parent_path() / "other", Bytes("same size"));
         fs::remove(f);
         fs::create_symlink("other", f);
       },
       "a.txt: a symbolic link now"},
      {"another file in its place",
       [](const fs::path& f) {
         WriteFile(f.parent_path() / "other", Bytes("same size"));
         fs::rename(f.parent_path() / "other", f);
       },
       "a.txt: another file took its place"},
      {"a pipe in its place",
       [](const fs::path& f) {
         fs::remove(f);
         ASSERT_EQ(mkfifo(f.c_str(), 0600), 0);
       },
       "a.txt: not a regular file"},
      {"grown", [](const fs::path& f) { WriteFile(f, Bytes("same size, and more")); },
       "a.txt: it grew while being packed"},
  };
  const CompressedSink sink{
      [](std::size_t, const std::uint8_t*, std::size_t, std::string*) { return true; },
      [](std::size_t, std::uint64_t, std::string*) { return true; }};
  int n = 0;
  for (const PathCase& c : swaps) {
    SCOPED_TRACE(c.what);
    const fs::path in = root_ / ("in" + std::to_string(n++));
    WriteFile(in / "a.txt", Bytes("same size"));
    std::vector<FileToPack> files;
    std::string error;
    ASSERT_TRUE(ScanFolder(in.string(), std::nullopt, &files, &error)) << error;
    c.make(in / "a.txt");
    EXPECT_FALSE(CompressFiles(files, 1, sink, &error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }

  const fs::path many = root_ / "many";
  for (int i = 0; i < 300; ++i) WriteFile(many / ("f" + std::to_string(i)), Bytes("x"));
  std::vector<FileToPack> files;
  std::string error;
  ASSERT_TRUE(ScanFolder(many.string(), std::nullopt, &files, &error)) << error;
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  rlimit low = limit;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const bool packed = CompressFiles(files, 1, sink, &error);
  setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_TRUE(packed) << error;
}

// Another program shrinking a file under kvpack's mapping: the next read of
// a page past the new end stops kvpack with one line and exit code 1, and
// the output it was writing goes, as after any other failure.
TEST_F(KvpackTest, AFileThatShrinksWhileMappedStopsKvpackAndRemovesItsOutput) {
  const fs::path input = root_ / "input.kvarc";
  const fs::path output = root_ / "Setup.exe.kvpack-tmp";
  WriteFile(input, Noise(64 * 1024));
  EXPECT_EXIT(
      {
        std::string error;
        OutputFile out;
        MappedFile mapped;
        if (!out.Create(output.string(), &error) || !mapped.Open(input.string(), &error)) {
          std::_Exit(2);
        }
        if (::truncate(input.c_str(), 0) != 0) std::_Exit(3);
        const std::uint8_t* piece = mapped.Piece(mapped.data() + 32 * 1024, 4096);
        const volatile std::uint8_t byte = piece[0];
        (void)byte;
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(1), "shrank under it");
  EXPECT_FALSE(fs::exists(output));
}

}  // namespace
}  // namespace kv
