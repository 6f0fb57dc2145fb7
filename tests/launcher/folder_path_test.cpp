// Creating the folders of a path on the real file system: what is created,
// what is recorded (newest first), and that the caller's current drive and
// directory survive every outcome.
#include <gtest/gtest.h>

#include <direct.h>

#include <cctype>
#include <string>
#include <vector>

#include "launcher/folder_path.h"
#include "platform/win32.h"
#include "tests/support/scoped_folder.h"

namespace kv {
namespace {

std::string CurrentDirectory() {
  char buffer[1024];
  return _getcwd(buffer, sizeof buffer) ? buffer : "";
}

std::vector<std::string> Recorded(const CreatedFolderList& list) {
  std::vector<std::string> paths;
  for (const ZkString& path : list) paths.emplace_back(path);
  return paths;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class FolderPath : public ::testing::Test {
 protected:
  void SetUp() override {
    // The caller stands in a folder of its own, which must be its current
    // directory again after every call.
    ASSERT_TRUE(::CreateDirectoryA((root_.path() + "caller").c_str(), nullptr));
    caller_ = root_.path() + "caller";
    ASSERT_EQ(_chdir(caller_.c_str()), 0);
    callerDrive_ = _getdrive();
  }
  void TearDown() override {
    EXPECT_EQ(CurrentDirectory(), caller_) << "current directory not restored";
    EXPECT_EQ(_getdrive(), callerDrive_) << "current drive not restored";
    _chdir("\\");
    EXPECT_TRUE(root_.Remove());
  }

  std::string Bare() const { return root_.path().substr(0, root_.path().size() - 1); }

  test::ScopedFolder root_;
  std::string caller_;
  int callerDrive_ = 0;
  CreatedFolderList list_;
};

TEST_F(FolderPath, ExistingFolderRecordsNothing) {
  EXPECT_EQ(CreateFolderPath(Bare().c_str(), &list_), 0);
  EXPECT_TRUE(list_.empty());
}

TEST_F(FolderPath, CreatesMissingFoldersOuterFirstAndRecordsNewestFirst) {
  const std::string work = root_.path() + "KVGSetup0";
  EXPECT_EQ(CreateFolderPath((work + "\\Data").c_str(), &list_), 0);
  EXPECT_TRUE(IsFolder(work + "\\Data"));
  EXPECT_EQ(Recorded(list_), (std::vector<std::string>{work + "\\Data", work}));

  // A later call puts its folders in front of the earlier ones.
  EXPECT_EQ(CreateFolderPath((work + "\\Fonts\\Sub").c_str(), &list_), 0);
  EXPECT_EQ(Recorded(list_), (std::vector<std::string>{work + "\\Fonts\\Sub", work + "\\Fonts",
                                                       work + "\\Data", work}));
}

TEST_F(FolderPath, NoListRecordsNothingButStillCreates) {
  EXPECT_EQ(CreateFolderPath((root_.path() + "a\\b").c_str(), nullptr), 0);
  EXPECT_TRUE(IsFolder(root_.path() + "a\\b"));
}

TEST_F(FolderPath, LowerCaseDriveLetterBehavesLikeUpperCase) {
  std::string path = root_.path() + "lower";
  path[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
  EXPECT_EQ(CreateFolderPath(path.c_str(), &list_), 0);
  EXPECT_EQ(Recorded(list_), (std::vector<std::string>{root_.path() + "lower"}));
}

TEST_F(FolderPath, ColonElsewhereThanSecondFailsAndCreatesNothing) {
  EXPECT_EQ(CreateFolderPath("ab:\\x", &list_), 1);
  EXPECT_EQ(CreateFolderPath((root_.path() + "x:y").c_str(), &list_), 1);
  EXPECT_TRUE(list_.empty());
  EXPECT_EQ(test::ListTree(root_.path()), "caller\n");
}

TEST_F(FolderPath, ComponentBlockedByAFileFailsAndRecordsNothingForIt) {
  ASSERT_TRUE(test::WriteWholeFile(root_.path() + "blocked", "x"));
  EXPECT_EQ(CreateFolderPath((root_.path() + "blocked\\inner").c_str(), &list_), 1);
  EXPECT_TRUE(list_.empty());
}

TEST_F(FolderPath, FailureKeepsTheFoldersItCreatedBeforeOnDiskAndInTheList) {
  // "bad?name" cannot be created, after "New" was.
  const std::string created = root_.path() + "New";
  EXPECT_EQ(CreateFolderPath((created + "\\bad?name\\inner").c_str(), &list_), 1);
  EXPECT_EQ(Recorded(list_), (std::vector<std::string>{created}));
  EXPECT_TRUE(IsFolder(created));
}

TEST_F(FolderPath, PathOnAnotherDriveRestoresBothDrivesDirectories) {
  // Z: maps the Linux root in Wine; the caller stands on another drive.
  char zCurrent[1024];
  ASSERT_TRUE(_getdcwd(26, zCurrent, sizeof zCurrent));
  if (callerDrive_ == 26) GTEST_SKIP() << "the test folder is on Z: itself";
  const std::string onZ = "Z:\\tmp\\" + std::to_string(::GetCurrentProcessId()) + "-kvfolder";
  EXPECT_EQ(CreateFolderPath((onZ + "\\inner").c_str(), &list_), 0);
  EXPECT_EQ(Recorded(list_), (std::vector<std::string>{onZ + "\\inner", onZ}));
  char zAfter[1024];
  ASSERT_TRUE(_getdcwd(26, zAfter, sizeof zAfter));
  EXPECT_STREQ(zAfter, zCurrent) << "the current directory of Z: changed";
  EXPECT_TRUE(test::RemoveTree(onZ));
}

TEST_F(FolderPath, FolderPathsBeyond255CharactersAreRecordedInFull) {
  // Grow a path to 257 characters (the platform takes directories of up to
  // 258 as current directory).
  std::string path = Bare();
  std::string last;
  while (path.size() < 257) {
    const size_t room = 257 - path.size() - 1;
    last = std::string(room < 40 ? room : 40, 'd');
    path += "\\" + last;
  }
  ASSERT_EQ(path.size(), 257u);
  EXPECT_EQ(CreateFolderPath(path.c_str(), &list_), 0);
  ASSERT_FALSE(list_.empty());
  EXPECT_EQ(std::string(list_.front()), path);
}

// A current directory that the system cannot report: no folder is recorded
// that the cleanup could not name, and none is left behind.
int readsLeft = 0;
char* ReadsThenFails(char* buffer, int size) {
  return readsLeft-- > 0 ? _getcwd(buffer, size) : nullptr;
}

TEST_F(FolderPath, UnreadableCurrentDirectoryFailsWithoutLeavingAFolder) {
  const std::string target = root_.path() + "made\\inner";
  struct Case {
    int reads;  // reads that still work
    const char* what;
  } cases[] = {{0, "before anything moves"}, {2, "right after a folder was made"}};
  for (const Case& c : cases) {
    readsLeft = c.reads;
    SetCurrentDirectoryReaderForTesting(&ReadsThenFails);
    EXPECT_EQ(CreateFolderPath(target.c_str(), &list_), 1) << c.what;
    SetCurrentDirectoryReaderForTesting(nullptr);
    EXPECT_TRUE(list_.empty()) << c.what;
    EXPECT_FALSE(IsFolder(root_.path() + "made")) << c.what;
    EXPECT_EQ(CurrentDirectory(), caller_) << c.what;
  }
}

}  // namespace
}  // namespace kv
