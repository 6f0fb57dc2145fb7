// ZKFile against the real file system under Wine. Each test works in its own
// folder below the temporary folder; TearDown deletes what is in it and
// asserts that the folder goes away, so a handle left open fails the test.
#include "stream/file_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "stream/inflate_stream.h"
#include "stream/mem_read_stream.h"
#include "stream/stream_exception.h"

// The replaced operators below pair malloc with free; the compiler cannot
// see that and takes their calls for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// While set, the global allocation operator fails as on an exhausted heap.
bool failAllocations = false;

void* operator new(std::size_t size) {
  void* block = failAllocations ? nullptr : std::malloc(size ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

// Runs `f` and returns the pointer-form exception it raised, or null.
template <typename F>
std::unique_ptr<ZkStreamException> FileError(F f) {
  try {
    f();
  } catch (ZkStreamException* e) {
    return std::unique_ptr<ZkStreamException>(e);
  }
  return nullptr;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Contents(const std::string& path) {
  kv::ScopedFileHandle h(CreateFileA(path.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.IsValid()) return "<cannot open>";
  std::string text;
  char buffer[512];
  DWORD got;
  while (ReadFile(h.Get(), buffer, sizeof(buffer), &got, nullptr) && got) {
    text.append(buffer, got);
  }
  return text;
}

void Put(const std::string& path, const std::string& text) {
  kv::ScopedFileHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
  ASSERT_TRUE(h.IsValid()) << path;
  DWORD written;
  ASSERT_TRUE(WriteFile(h.Get(), text.data(), static_cast<DWORD>(text.size()),
                        &written, nullptr));
}

class ZKFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    static int serial = 0;
    folder_ = std::string(temp) + "kvstream-" +
              std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++serial);
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
  }

  void TearDown() override {
    WIN32_FIND_DATAA found;
    {
      kv::ScopedFindHandle find(
          FindFirstFileA((folder_ + "\\*").c_str(), &found));
      if (find.IsValid()) {
        do {
          const std::string name = found.cFileName;
          if (name == "." || name == "..") continue;
          EXPECT_TRUE(DeleteFileA(Path(name.c_str()).c_str()))
              << name << " is still open";
        } while (FindNextFileA(find.Get(), &found));
      }
    }
    EXPECT_TRUE(RemoveDirectoryA(folder_.c_str())) << folder_;
  }

  std::string Path(const char* name) const { return folder_ + "\\" + name; }

  std::string folder_;
};

TEST_F(ZKFileTest, BothFacesShareOnePosition) {
  ZKFile file(Path("faces.bin").c_str(), ZK_READWRITE | ZK_CREATE);
  ZKWrite* writer = &file;
  ZKRead* reader = &file;
  ZKSeek* through_read = static_cast<ZKSeekRead*>(&file);
  ZKSeek* through_write = static_cast<ZKSeekWrite*>(&file);
  EXPECT_EQ(through_read, through_write);

  EXPECT_EQ(writer->stWrite("hello, file", 11), 11u);
  EXPECT_EQ(through_write->stTell(), 11u);
  EXPECT_EQ(through_read->stSeek(7, ZK_SEEK_BEGIN), 7u);
  char buffer[16] = {};
  EXPECT_EQ(reader->stRead(buffer, sizeof(buffer)), 4u);
  EXPECT_STREQ(buffer, "file");
  EXPECT_EQ(through_write->stTell(), 11u);
}

TEST_F(ZKFileTest, CreationFlags) {
  const unsigned int kCreate4097 = ZK_WRITE | ZK_CREATE;
  ASSERT_EQ(kCreate4097, 4097u);
  struct Case {
    unsigned int flags;
    bool exists_before;
    bool opens;
    const char* contents_after;  // null: the file must not exist
  } cases[] = {
      {kCreate4097, true, true, ""},
      {kCreate4097, false, true, ""},
      {ZK_WRITE | ZK_CREATE | ZK_NOTRUNCATE, true, true, "0123456789"},
      {ZK_WRITE | ZK_CREATE | ZK_NOTRUNCATE, false, true, ""},
      {ZK_READ, true, true, "0123456789"},
      {ZK_READWRITE | ZK_NOTRUNCATE, true, true, "0123456789"},
      {ZK_WRITE | ZK_CREATE_NEW, false, true, ""},
      {ZK_WRITE | ZK_CREATE_NEW, true, false, "0123456789"},
      {ZK_WRITE | ZK_CREATE | ZK_CREATE_NEW, true, false, "0123456789"},
      {ZK_READ, false, false, nullptr},
      {ZK_WRITE, false, false, nullptr},
      {ZK_WRITE | ZK_NOTRUNCATE, false, false, nullptr},
      // Values without meaning are refused, even where a file would have
      // been created.
      {3 | ZK_CREATE, false, false, nullptr},
      {3, true, false, "0123456789"},
      {ZK_WRITE | 0x50 | ZK_CREATE, false, false, nullptr},
      {ZK_WRITE | 0x60 | ZK_CREATE, false, false, nullptr},
      {ZK_WRITE | 0x70 | ZK_CREATE, false, false, nullptr},
      {ZK_READ | 0x70, true, false, "0123456789"},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "flags 0x" << std::hex << c.flags
                                      << (c.exists_before ? ", existing"
                                                          : ", missing"));
    const std::string path = Path(("case" + std::to_string(++row)).c_str());
    if (c.exists_before) Put(path, "0123456789");
    std::unique_ptr<ZkStreamException> error = FileError([&] {
      ZKFile file(path.c_str(), c.flags);
      EXPECT_NE(file.GetHandle(), nullptr);
    });
    if (c.opens) {
      EXPECT_EQ(error, nullptr);
    } else if (error == nullptr) {
      ADD_FAILURE() << "opened";
    } else {
      EXPECT_EQ(error->GetCode(), 7);
      EXPECT_EQ(std::string(error->GetText()), path);
    }
    if (c.contents_after) {
      EXPECT_EQ(Contents(path), c.contents_after);
    } else {
      EXPECT_FALSE(Exists(path));
    }
  }
}

TEST_F(ZKFileTest, OpenReportsFailureOnlyByItsResult) {
  ZKFile file;
  EXPECT_EQ(file.Open(Path("missing").c_str(), ZK_READ), 0);
  EXPECT_EQ(file.Open(Path("refused").c_str(), 3 | ZK_CREATE), 0);
  EXPECT_EQ(file.GetHandle(), nullptr);
  EXPECT_EQ(file.Open(Path("made").c_str(), ZK_WRITE | ZK_CREATE), 1);
  EXPECT_NE(file.GetHandle(), nullptr);
  file.Close();
  EXPECT_EQ(file.GetHandle(), nullptr);
  EXPECT_TRUE(Exists(Path("made")));
}

TEST_F(ZKFileTest, AccessDecidesWhichFaceWorks) {
  struct Case {
    unsigned int flags;
    bool can_read;
    bool can_write;
  } cases[] = {
      {ZK_READ, true, false},
      {ZK_WRITE, false, true},
      {ZK_READWRITE, true, true},
  };
  const std::string path = Path("access.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "flags " << c.flags);
    Put(path, "abc");
    ZKFile file(path.c_str(), c.flags);
    char byte = 0;
    // Count 0 does not touch the file, so it succeeds whatever the access.
    EXPECT_EQ(file.stRead(&byte, 0), 0u);
    EXPECT_EQ(file.stWrite("x", 0), 0u);

    std::unique_ptr<ZkStreamException> read_error =
        FileError([&] { EXPECT_EQ(file.stRead(&byte, 1), 1u); });
    if (c.can_read) {
      EXPECT_EQ(read_error, nullptr);
      EXPECT_EQ(byte, 'a');
    } else if (read_error == nullptr) {
      ADD_FAILURE() << "read succeeded";
    } else {
      EXPECT_EQ(read_error->GetCode(), 1);
      EXPECT_EQ(read_error->GetText(), nullptr);
    }

    file.stSeek(0, ZK_SEEK_END);
    std::unique_ptr<ZkStreamException> write_error =
        FileError([&] { EXPECT_EQ(file.stWrite("def", 3), 3u); });
    if (c.can_write) {
      EXPECT_EQ(write_error, nullptr);
    } else if (write_error == nullptr) {
      ADD_FAILURE() << "write succeeded";
    } else {
      EXPECT_EQ(write_error->GetCode(), 2);
      EXPECT_EQ(write_error->GetText(), nullptr);
    }
    file.Close();
    EXPECT_EQ(Contents(path), c.can_write ? "abcdef" : "abc");
  }
}

TEST_F(ZKFileTest, SharingDecidesWhatASecondOpenMay) {
  struct Case {
    unsigned int share;
    bool others_read;
    bool others_write;
  } cases[] = {
      {0x00, false, false},
      {ZK_SHARE_EXCLUSIVE, false, false},
      {ZK_SHARE_DENYWRITE, true, false},
      {ZK_SHARE_DENYREAD, false, true},
      {ZK_SHARE_DENYNONE, true, true},
  };
  const std::string path = Path("shared.txt");
  Put(path, "abc");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "sharing 0x" << std::hex << c.share);
    ZKFile held(path.c_str(), ZK_READWRITE | c.share);
    ZKFile second;
    EXPECT_EQ(second.Open(path.c_str(), ZK_READ | ZK_SHARE_DENYNONE),
              c.others_read ? 1 : 0);
    second.Close();
    EXPECT_EQ(second.Open(path.c_str(), ZK_WRITE | ZK_SHARE_DENYNONE),
              c.others_write ? 1 : 0);
  }
}

TEST_F(ZKFileTest, SecondOpenOfAFileHeldWith4097RaisesItsPath) {
  const std::string path = Path("held.txt");
  ZKFile held(path.c_str(), ZK_WRITE | ZK_CREATE);
  std::unique_ptr<ZkStreamException> error =
      FileError([&] { ZKFile second(path.c_str(), ZK_WRITE | ZK_CREATE); });
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->GetCode(), 7);
  EXPECT_STREQ(error->GetText(), path.c_str());
  EXPECT_NE(error->GetText(), path.c_str());  // its own copy
}

TEST_F(ZKFileTest, PositionLengthAndEndOfFile) {
  const std::string path = Path("hundred.bin");
  Put(path, std::string(100, 'z'));
  ZKFile file(path.c_str(), ZK_READ);
  EXPECT_EQ(file.stSeek(10, ZK_SEEK_BEGIN), 10u);
  EXPECT_EQ(file.stGetLength(), 100u);
  EXPECT_EQ(file.stTell(), 10u);
  EXPECT_EQ(file.stSeek(-5, ZK_SEEK_CURRENT), 5u);
  EXPECT_EQ(file.stSeek(-1, ZK_SEEK_END), 99u);
  char buffer[8];
  EXPECT_EQ(file.stRead(buffer, sizeof(buffer)), 1u);
  EXPECT_EQ(file.stRead(buffer, sizeof(buffer)), 0u);  // end of file
  EXPECT_EQ(file.stRead(buffer, sizeof(buffer)), 0u);

  std::unique_ptr<ZkStreamException> error =
      FileError([&] { file.stSeek(-1, ZK_SEEK_BEGIN); });
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->GetCode(), 4);
  EXPECT_EQ(error->GetText(), nullptr);
  EXPECT_EQ(file.stTell(), 100u);  // the failed seek moved nothing
}

TEST_F(ZKFileTest, LockMeetsALockHeldThroughAnotherHandle) {
  const std::string path = Path("locked.bin");
  Put(path, std::string(100, 'l'));
  kv::ScopedFileHandle other(CreateFileA(
      path.c_str(), GENERIC_READ | GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(other.IsValid());
  ASSERT_TRUE(LockFile(other.Get(), 0, 0, 10, 0));

  ZKFile file(path.c_str(), ZK_READWRITE | ZK_SHARE_DENYNONE);
  EXPECT_EQ(file.stLock(5, 10, 0), -1);
  EXPECT_EQ(file.stLock(50, 10, 0xDEAD), 0);  // the third argument is ignored
  EXPECT_NE(file.stUnlock(50, 10), 0);
  std::unique_ptr<ZkStreamException> error =
      FileError([&] { file.stUnlock(50, 10); });  // no longer locked
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->GetCode(), 6);
  EXPECT_EQ(error->GetText(), nullptr);

  ASSERT_TRUE(UnlockFile(other.Get(), 0, 0, 10, 0));
  EXPECT_EQ(file.stLock(5, 10, 0), 0);
  EXPECT_NE(file.stUnlock(5, 10), 0);
}

TEST_F(ZKFileTest, BorrowedHandleStaysUsable) {
  const std::string path = Path("borrowed.txt");
  kv::ScopedFileHandle handle(CreateFileA(path.c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(handle.IsValid());
  ZKFile* borrowed = new ZKFile(handle.Get());
  EXPECT_EQ(borrowed->stWrite("ab", 2), 2u);
  delete borrowed;
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(handle.Get(), "cd", 2, &written, nullptr));
  EXPECT_EQ(written, 2u);
  EXPECT_TRUE(CloseHandle(handle.Release()));
  EXPECT_EQ(Contents(path), "abcd");
}

TEST_F(ZKFileTest, CloseEndsWithoutAFileAndRaises8OnFailure) {
  ZKFile empty;
  EXPECT_NO_THROW(empty.Close());

  const std::string path = Path("closed.txt");
  ZKFile file(path.c_str(), ZK_WRITE | ZK_CREATE);
  file.Close();
  EXPECT_EQ(file.GetHandle(), nullptr);
  EXPECT_TRUE(DeleteFileA(path.c_str()));  // the handle really is closed
  EXPECT_NO_THROW(file.Close());

  // A handle value that names nothing makes the close call fail.
  ZKFile bogus(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FFFFFF0)));
  std::unique_ptr<ZkStreamException> error =
      FileError([&] { bogus.Close(); });
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->GetCode(), 8);
  EXPECT_EQ(error->GetText(), nullptr);
  EXPECT_EQ(bogus.GetHandle(), nullptr);
  EXPECT_NO_THROW(bogus.Close());
}

TEST_F(ZKFileTest, DestructorSwallowsACloseFailure) {
  // The own handle is closed behind the stream's back, so its own close
  // fails. An exception leaving the destructor would end the process here.
  ZKFile* file = new ZKFile(Path("gone.txt").c_str(), ZK_WRITE | ZK_CREATE);
  ASSERT_TRUE(CloseHandle(file->GetHandle()));
  EXPECT_NO_THROW(delete file);

  // Nor may the std::bad_alloc that raising the close failure ends in when
  // the heap is exhausted.
  file = new ZKFile(Path("gone3.txt").c_str(), ZK_WRITE | ZK_CREATE);
  ASSERT_TRUE(CloseHandle(file->GetHandle()));
  failAllocations = true;
  delete file;
  failAllocations = false;

  ZKFile explicit_close(Path("gone2.txt").c_str(), ZK_WRITE | ZK_CREATE);
  ASSERT_TRUE(CloseHandle(explicit_close.GetHandle()));
  std::unique_ptr<ZkStreamException> error =
      FileError([&] { explicit_close.Close(); });
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->GetCode(), 8);
}

TEST_F(ZKFileTest, InflatesFromMemoryIntoAFile) {
  std::string data;
  for (int i = 0; i < 1234; ++i) data += static_cast<char>('A' + i * 7 % 26);
  uLongf packed_size = compressBound(static_cast<uLong>(data.size()));
  std::vector<unsigned char> packed(packed_size);
  ASSERT_EQ(compress(packed.data(), &packed_size,
                     reinterpret_cast<const Bytef*>(data.data()),
                     static_cast<uLong>(data.size())),
            Z_OK);

  const std::string path = Path("entry.bin");
  {
    ZKMemRead source(packed.data(), packed_size);
    ZKFile target(path.c_str(), ZK_WRITE | ZK_CREATE);
    ZKInflateCopy copier;
    EXPECT_EQ(copier.stTransfer(&target, &source, 0), 1234u);
    EXPECT_TRUE(copier.ReachedStreamEnd());
    EXPECT_EQ(target.stGetLength(), 1234u);
  }
  EXPECT_EQ(Contents(path), data);
}

}  // namespace
