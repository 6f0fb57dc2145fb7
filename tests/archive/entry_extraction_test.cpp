// Extracting one entry onto the real file system: the folders it creates and
// records, the file it writes, and the failures it raises.
#include <gtest/gtest.h>

#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/entry_extraction.h"
#include "archive/unpack_error.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "stream/stream_exception.h"
#include "tests/support/scoped_folder.h"

namespace kv {
namespace {

std::vector<unsigned char> Deflate(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::vector<unsigned char> stream(size);
  compress2(stream.data(), &size, reinterpret_cast<const Bytef*>(text.data()),
            static_cast<uLong>(text.size()), 6);
  stream.resize(size);
  return stream;
}

std::vector<std::string> Recorded(const CreatedFolderList& list) {
  std::vector<std::string> paths;
  for (const ZkString& path : list) paths.emplace_back(path);
  return paths;
}

class ExtractEntryTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(root_.Remove()) << "a file is still held open"; }

  // Extracts `text` to the work folder path followed by `name`.
  void Extract(const std::string& name, const std::string& text,
               TargetFile target = TargetFile::kNew) {
    const std::vector<unsigned char> stream = Deflate(text);
    ExtractEntry(stream.data(), static_cast<unsigned long>(stream.size()),
                 static_cast<unsigned long>(text.size()), (work_ + name).c_str(), &folders_,
                 target, [this](const char* path) { created_.push_back(path); });
  }

  std::string Contents(const std::string& name) {
    std::string text;
    EXPECT_TRUE(test::ReadWholeFile(work_ + name, &text)) << name;
    return text;
  }

  test::ScopedFolder root_;
  std::string work_ = root_.path() + "KVGSetup0\\";
  CreatedFolderList folders_;
  std::vector<std::string> created_;
};

TEST_F(ExtractEntryTest, FirstEntryCreatesAndRecordsTheWorkFolder) {
  Extract("readme.txt", "hello");
  EXPECT_EQ(Contents("readme.txt"), "hello");
  EXPECT_EQ(Recorded(folders_), std::vector<std::string>{root_.path() + "KVGSetup0"});
  EXPECT_EQ(created_, std::vector<std::string>{work_ + "readme.txt"});
}

TEST_F(ExtractEntryTest, TwoMissingFolderLevelsAreCreatedAndRecordedInnerFirst) {
  ASSERT_TRUE(::CreateDirectoryA(work_.c_str(), nullptr));
  Extract("Data\\Fonts\\a.fon", std::string(250, 'x'));
  EXPECT_EQ(Contents("Data\\Fonts\\a.fon"), std::string(250, 'x'));
  EXPECT_EQ(Recorded(folders_),
            (std::vector<std::string>{work_ + "Data\\Fonts", work_ + "Data"}));
}

TEST_F(ExtractEntryTest, AFileOfTheRunIsReplacedCompletelyEvenByShorterContents) {
  Extract("same.txt", std::string(5000, 'a'));
  Extract("same.txt", "short", TargetFile::kWrittenBefore);
  EXPECT_EQ(Contents("same.txt"), "short");
}

// A file that somebody else put in the target's place (the work folder of
// an unelevated run is open to every process of the user) is never opened,
// let alone truncated, and never reported as the run's own.
TEST_F(ExtractEntryTest, AFileThatTheRunDidNotCreateIsLeftAlone) {
  ASSERT_TRUE(::CreateDirectoryA(work_.c_str(), nullptr));
  const std::string target = work_ + "theirs.txt";
  ASSERT_TRUE(test::WriteWholeFile(target, "somebody else's"));
  try {
    Extract("theirs.txt", "ours");
    FAIL() << "no exception";
  } catch (ZkStreamException* error) {
    std::unique_ptr<ZkStreamException> owned(error);
    EXPECT_EQ(owned->GetCode(), ZK_ERR_OPEN);
    EXPECT_EQ(owned->GetSystemError(), static_cast<unsigned long>(ERROR_FILE_EXISTS));
  }
  EXPECT_EQ(Contents("theirs.txt"), "somebody else's");
  EXPECT_TRUE(created_.empty());
}

TEST_F(ExtractEntryTest, CompressedLengthZeroGivesAnEmptyFile) {
  ExtractEntry(nullptr, 0, 0, (work_ + "empty.txt").c_str(), &folders_);
  EXPECT_EQ(Contents("empty.txt"), "");
}

// Entries are inflated whole up to a limit and through the zlib stream
// beyond it; a context whose limit is 0 sends every entry the second way.
struct Path {
  const char* name;
  unsigned long wholeEntryLimit;
};
const Path kPaths[] = {{"whole", kWholeEntryLimit}, {"stream", 0}};

TEST_F(ExtractEntryTest, EntriesArriveWholeOnBothPaths) {
  // Bigger than the stream's 64 KiB blocks, with a tail that is not a
  // multiple of anything, between a small and a smaller entry: nothing may
  // stay unwritten when the file closes, and a buffer kept from a larger
  // entry must not lend its bytes or its size to a smaller one.
  std::string big;
  for (int i = 0; big.size() < 300001; ++i) big += std::to_string(i * 7919) + ",";
  big.resize(300001);
  ASSERT_TRUE(::CreateDirectoryA(work_.c_str(), nullptr));
  for (const Path& path : kPaths) {
    ExtractionContext context(work_.substr(0, work_.size() - 1), path.wholeEntryLimit);
    const std::string texts[] = {std::string(5000, 'a'), big, "tiny", ""};
    for (int i = 0; i < 4; ++i) {
      const std::string name = std::string(path.name) + std::to_string(i) + ".bin";
      const std::vector<unsigned char> stream = Deflate(texts[i]);
      ExtractEntry(stream.data(), static_cast<unsigned long>(stream.size()),
                   static_cast<unsigned long>(texts[i].size()), (work_ + name).c_str(), &folders_,
                   TargetFile::kNew, nullptr, &context);
      EXPECT_EQ(Contents(name), texts[i]) << name;
    }
  }
}

// Counts the pauses; the one numbered `throwAt` (from 1) throws.
struct CountingPauses : PausePoint {
  int count = 0;
  int throwAt = 0;
  void Pause() override {
    if (++count == throwAt) throw 42;
  }
  void Rest(DWORD) override {}
};

// A large entry pauses between the pieces of its output on both paths (so
// the launcher's messages are dispatched while it is written), and a pause
// that stops the run leaves its file closed, holding whole pieces.
TEST_F(ExtractEntryTest, LargeEntriesPauseBetweenPiecesAndStopThereWithTheFileClosed) {
  std::string text;
  for (int i = 0; text.size() < 2 * kWholeWritePieceBytes + 100; ++i)
    text += std::to_string(i * 7919) + ",";
  const std::vector<unsigned char> stream = Deflate(text);
  const std::string target = work_ + "large.bin";
  ASSERT_TRUE(::CreateDirectoryA(work_.c_str(), nullptr));
  // Pauses: one before the entry, then one between each two pieces.
  const int pieces[] = {3, static_cast<int>(text.size() / kExtractionStepBytes) + 1};
  const unsigned long pieceBytes[] = {kWholeWritePieceBytes, kExtractionStepBytes};
  for (int p = 0; p < 2; ++p) {
    ExtractionContext context(work_.substr(0, work_.size() - 1), kPaths[p].wholeEntryLimit);
    CountingPauses pauses;
    context.PauseAt(&pauses);
    ExtractEntry(stream.data(), static_cast<unsigned long>(stream.size()),
                 static_cast<unsigned long>(text.size()), target.c_str(), &folders_,
                 TargetFile::kNew, nullptr, &context);
    EXPECT_GE(pauses.count, pieces[p]) << kPaths[p].name;
    EXPECT_EQ(Contents("large.bin"), text) << kPaths[p].name;
    ASSERT_TRUE(::DeleteFileA(target.c_str()));

    pauses.count = 0;
    pauses.throwAt = 2;  // after the first piece
    EXPECT_THROW(ExtractEntry(stream.data(), static_cast<unsigned long>(stream.size()),
                              static_cast<unsigned long>(text.size()), target.c_str(), &folders_,
                              TargetFile::kNew, nullptr, &context),
                 int)
        << kPaths[p].name;
    EXPECT_EQ(Contents("large.bin"), text.substr(0, pieceBytes[p])) << kPaths[p].name;
    EXPECT_TRUE(::DeleteFileA(target.c_str())) << kPaths[p].name << ": the file is still open";
  }
}

TEST_F(ExtractEntryTest, TargetHeldOpenWithoutSharingRaisesCodeSevenWithThePath) {
  Extract("held.txt", "first");
  created_.clear();
  const std::string target = work_ + "held.txt";
  ScopedFileHandle held(::CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held.IsValid());
  try {
    Extract("held.txt", "x", TargetFile::kWrittenBefore);
    FAIL() << "no exception";
  } catch (ZkStreamException* error) {
    std::unique_ptr<ZkStreamException> owned(error);
    EXPECT_EQ(owned->GetCode(), ZK_ERR_OPEN);
    ASSERT_NE(owned->GetText(), nullptr);
    EXPECT_EQ(std::string(owned->GetText()), target);
    EXPECT_EQ(owned->GetSystemError(), static_cast<unsigned long>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_TRUE(created_.empty()) << "a file that did not open was reported";
}

struct DamageCase {
  const char* what;
  bool bomb;        // 1000 bytes recorded, 64 MiB in the stream
  int cut;          // bytes cut from the end of the stream
  int flipAt;       // byte of the stream to flip, -2 the last (Adler-32), or -1
  int lengthDelta;  // added to the recorded uncompressed length
  enum { kDamaged, kMoreThan, kInsteadOf } detail;
};

std::string Detail(const DamageCase& c, unsigned long recorded, size_t actual) {
  switch (c.detail) {
    case DamageCase::kDamaged: return "the compressed data is damaged or truncated";
    case DamageCase::kMoreThan:
      return "the data inflates to more than the " + std::to_string(recorded) +
             " bytes its record gives";
    case DamageCase::kInsteadOf:
      return "the data inflates to " + std::to_string(actual) + " bytes instead of " +
             std::to_string(recorded);
  }
  return "";
}

// Each damage is refused with the same words on both paths, after the file
// is closed, with no more than the record's length in it: a stream that
// inflates far beyond its record (a bomb of a few hundred bytes can yield
// gigabytes) fills no disk.
TEST_F(ExtractEntryTest, DamagedEntriesAreRefusedAlikeOnBothPaths) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\r\n";
  const std::vector<unsigned char> bomb = Deflate(std::string(64 << 20, 'z'));
  const DamageCase cases[] = {
      {"flipped byte", false, 0, 40, 0, DamageCase::kDamaged},
      {"wrong Adler-32", false, 0, -2, 0, DamageCase::kDamaged},
      {"truncated stream", false, 10, -1, 0, DamageCase::kDamaged},
      {"Adler-32 cut off", false, 4, -1, 0, DamageCase::kDamaged},
      {"record says longer", false, 0, -1, 1, DamageCase::kInsteadOf},
      {"record says shorter", false, 0, -1, -1, DamageCase::kMoreThan},
      {"bomb", true, 0, -1, 0, DamageCase::kMoreThan},
  };
  ASSERT_TRUE(::CreateDirectoryA(work_.c_str(), nullptr));
  for (const Path& path : kPaths) {
    ExtractionContext context(work_.substr(0, work_.size() - 1), path.wholeEntryLimit);
    for (const DamageCase& c : cases) {
      const std::string what = std::string(path.name) + ", " + c.what;
      std::vector<unsigned char> stream = c.bomb ? bomb : Deflate(text);
      if (c.flipAt >= 0) stream[c.flipAt] ^= 0x20;
      if (c.flipAt == -2) stream.back() ^= 0x01;
      stream.resize(stream.size() - c.cut);
      const unsigned long recorded =
          c.bomb ? 1000 : static_cast<unsigned long>(text.size() + c.lengthDelta);
      const std::string target = work_ + "damaged.txt";
      try {
        ExtractEntry(stream.data(), static_cast<unsigned long>(stream.size()), recorded,
                     target.c_str(), &folders_, TargetFile::kWrittenBefore, nullptr, &context);
        ADD_FAILURE() << what << ": no exception";
      } catch (const UnpackError& error) {
        EXPECT_EQ(error.kind(), UnpackError::Kind::kDamagedEntry) << what;
        EXPECT_EQ(error.subject(), target) << what;
        EXPECT_EQ(error.detail(), Detail(c, recorded, text.size())) << what;
      }
      EXPECT_LE(Contents("damaged.txt").size(), recorded) << what;
      // The file is closed: it can be deleted at once.
      EXPECT_TRUE(::DeleteFileA(target.c_str())) << what;
    }
  }
}

// A run's account of known folders makes and records exactly what
// CreateFolderPath makes and records for the same folders, in the same
// order: folders of later entries in front, inner ones before outer ones,
// a folder that exists already (here: made by somebody else) taken as it
// is, a file in the way a failure.
TEST(KnownFolders, RecordWhatCreateFolderPathRecords) {
  test::ScopedFolder byWalk;
  test::ScopedFolder byCache;
  const char* const folders[] = {"", "Data", "Data\\Fonts\\Big", "Data\\Fonts", "Help\\de",
                                 "Theirs\\inner", "Data\\Fonts\\Big", "Blocked\\x"};
  CreatedFolderList walked;
  CreatedFolderList cached;
  std::vector<int> walkResults;
  std::vector<int> cacheResults;
  for (test::ScopedFolder* root : {&byWalk, &byCache}) {
    ASSERT_TRUE(::CreateDirectoryA((root->path() + "W").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((root->path() + "W\\Theirs").c_str(), nullptr));
    ASSERT_TRUE(test::WriteWholeFile(root->path() + "W\\Blocked", "a file"));
  }
  KnownFolders known(byCache.path() + "W");
  for (const char* folder : folders) {
    const std::string tail = *folder ? std::string("\\") + folder : std::string();
    walkResults.push_back(CreateFolderPath((byWalk.path() + "W" + tail).c_str(), &walked));
    cacheResults.push_back(known.Ensure(byCache.path() + "W" + tail, &cached));
  }
  EXPECT_EQ(cacheResults, walkResults);
  std::vector<std::string> expected;
  for (const ZkString& path : walked) {
    expected.push_back(byCache.path() + std::string(path).substr(byWalk.path().size()));
  }
  EXPECT_EQ(Recorded(cached), expected);
  EXPECT_EQ(test::ListTree(byCache.path()), test::ListTree(byWalk.path()));
  EXPECT_TRUE(byWalk.Remove());
  EXPECT_TRUE(byCache.Remove());
}

}  // namespace
}  // namespace kv
