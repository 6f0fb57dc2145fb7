// Raw buffer access and locking: GetBuffer, ReleaseBuffer,
// GetBufferSetLength, FreeExtra, LockBuffer and UnlockBuffer.
#include <cstring>

#include "tests/zkstring/zk_string_test_support.h"

namespace zk_test {
namespace {

using BufferTest = ZkStringTest;

TEST_F(BufferTest, GetBufferGrowsToTheMinimumAndReleaseBufferSetsTheLength) {
  ZkString s("abc");
  char* buffer = s.GetBuffer(10);
  EXPECT_EQ(s.GetAllocLength(), 10);
  EXPECT_EQ(s.GetLength(), 3);
  EXPECT_STREQ(buffer, "abc");
  std::strcpy(buffer, "hello");
  s.ReleaseBuffer(-1);
  EXPECT_EQ(Text(s), "hello");
  s.GetBuffer(0);
  s.ReleaseBuffer(2);
  EXPECT_EQ(Text(s), "he");
  EXPECT_EQ(s.GetAllocLength(), 10);
}

TEST_F(BufferTest, GetBufferReturnsALargeEnoughPrivateBlockUnchanged) {
  ZkString s("abcdef");
  const char* block = Chars(s);
  AllocationWatch watch;
  EXPECT_EQ(s.GetBuffer(3), block) << "never shrinks";
  EXPECT_EQ(s.GetBuffer(6), block);
  s.ReleaseBuffer();
  EXPECT_EQ(watch.News(), 0);
  EXPECT_EQ(s.GetAllocLength(), 6);
}

TEST_F(BufferTest, GetBufferGivesASharedStringItsOwnCopy) {
  ZkString a("abc");
  ZkString b(a);
  char* buffer = b.GetBuffer(0);
  EXPECT_NE(buffer, Chars(a));
  buffer[0] = 'X';
  b.ReleaseBuffer();
  EXPECT_EQ(Text(a), "abc");
  EXPECT_EQ(Text(b), "Xbc");
  EXPECT_EQ(b.GetAllocLength(), 3);
}

TEST_F(BufferTest, GetBufferSetLengthCutsTheTextAndKeepsTheCapacity) {
  ZkString s("abcdef");
  s.GetBufferSetLength(4);
  EXPECT_EQ(Text(s), "abcd");
  EXPECT_EQ(s.GetAllocLength(), 6);
  s.GetBufferSetLength(8);
  EXPECT_EQ(s.GetLength(), 8);
  EXPECT_EQ(s.GetAllocLength(), 8);
}

TEST_F(BufferTest, FreeExtraShrinksToTheText) {
  ZkString s("abc");
  s.GetBuffer(10);
  s.ReleaseBuffer();
  AllocationWatch watch;
  s.FreeExtra();
  EXPECT_EQ(s.GetAllocLength(), 3);
  EXPECT_EQ(Text(s), "abc");
  EXPECT_EQ(watch.News(), 1);
  s.FreeExtra();
  EXPECT_EQ(watch.News(), 1) << "an exact block is kept";

  s.GetBuffer(10);
  s.ReleaseBuffer(0);
  s.FreeExtra();
  EXPECT_TRUE(IsSharedEmpty(s));
}

TEST_F(BufferTest, FreeExtraOnASharedBlockGivesOnlyThisStringAnExactCopy) {
  ZkString a("ab");
  a.GetBuffer(9);
  a.ReleaseBuffer();
  ZkString b(a);
  b.FreeExtra();
  EXPECT_EQ(b.GetAllocLength(), 2);
  EXPECT_EQ(RefCount(b), 1);
  EXPECT_EQ(a.GetAllocLength(), 9);
  EXPECT_EQ(RefCount(a), 1);
}

TEST_F(BufferTest, ALockedStringIsCopiedNeverShared) {
  ZkString s("lock");
  char* buffer = s.LockBuffer();
  EXPECT_EQ(buffer, Chars(s));
  EXPECT_EQ(RefCount(s), -1);

  ZkString copy(s);
  EXPECT_NE(Chars(copy), Chars(s));
  EXPECT_EQ(Text(copy), "lock");
  ZkString assigned("x");
  assigned = s;
  EXPECT_NE(Chars(assigned), Chars(s));
  EXPECT_EQ(Text(assigned), "lock");
  EXPECT_EQ(RefCount(s), -1);

  s.UnlockBuffer();
  EXPECT_EQ(RefCount(s), 1);
  ZkString shared(s);
  EXPECT_EQ(Chars(shared), Chars(s));
}

TEST_F(BufferTest, LockingASharedStringLocksAPrivateCopy) {
  ZkString a("abc");
  ZkString b(a);
  b.LockBuffer();
  EXPECT_NE(Chars(a), Chars(b));
  EXPECT_EQ(RefCount(a), 1);
  EXPECT_EQ(RefCount(b), -1);
  b.UnlockBuffer();
}

TEST_F(BufferTest, LockingAnEmptyStringLeavesItOnTheSharedBlock) {
  ZkString s;
  s.LockBuffer();
  EXPECT_TRUE(IsSharedEmpty(s));
  s.UnlockBuffer();
  EXPECT_TRUE(IsSharedEmpty(s));
}

TEST_F(BufferTest, ALockedBlockKeepsItsLockWhileTextFitsAndIsReplacedWhenItGrows) {
  ZkString s("abcd");
  s.GetBuffer(6);
  s.ReleaseBuffer();
  s.LockBuffer();
  const char* block = Chars(s);

  s.Empty();
  EXPECT_EQ(s.GetLength(), 0);
  EXPECT_EQ(s.GetAllocLength(), 6);
  EXPECT_EQ(RefCount(s), -1);
  EXPECT_EQ(Chars(s), block);

  s = ZkString("xyz");  // copied into the locked block
  s += "uv";
  s.SetAt(0, 'X');
  EXPECT_EQ(Chars(s), block);
  EXPECT_EQ(RefCount(s), -1);
  EXPECT_EQ(Text(s), "Xyzuv");

  AllocationWatch watch;
  s += "wide";
  EXPECT_NE(Chars(s), block);
  EXPECT_EQ(RefCount(s), 1) << "growth replaces the locked block by an owned one";
  EXPECT_EQ(s.GetAllocLength(), 9);
  EXPECT_EQ(watch.Deletes(), 1) << "the locked block is freed by its first release";
}

TEST_F(BufferTest, ALockedBlockIsFreedWithItsString) {
  AllocationWatch watch;
  {
    ZkString s("abc");
    s.LockBuffer();
  }
  EXPECT_EQ(watch.News(), 1);
  EXPECT_EQ(watch.Deletes(), 1);
}

TEST_F(BufferTest, FreeExtraUnlocksALockedBlockWithSpareRoom) {
  ZkString s("ab");
  s.GetBuffer(5);
  s.ReleaseBuffer();
  s.LockBuffer();
  s.FreeExtra();
  EXPECT_EQ(RefCount(s), 1);
  EXPECT_EQ(s.GetAllocLength(), 2);
}

// The protected helpers are exported too; a derived class reaches them the
// way a program bound to the class would.
class HelperProbe : public ZkString {
 public:
  using ZkString::ZkString;
  using ZkString::AllocBeforeWrite;
  using ZkString::GetData;
  using ZkString::SafeStrlen;
};

TEST_F(BufferTest, AllocBeforeWriteKeepsAPrivateBlockThatIsLargeEnough) {
  HelperProbe owned("abcdef");
  const char* block = Chars(owned);
  AllocationWatch watch;
  owned.AllocBeforeWrite(6);
  EXPECT_EQ(Chars(owned), block);
  EXPECT_EQ(watch.News(), 0);

  owned.LockBuffer();
  owned.AllocBeforeWrite(4);
  EXPECT_EQ(RefCount(owned), -1) << "a locked block that is large enough stays locked";
  owned.AllocBeforeWrite(7);
  EXPECT_EQ(RefCount(owned), 1) << "one that is too small is replaced by an owned block";
  EXPECT_EQ(owned.GetAllocLength(), 7);
  EXPECT_EQ(watch.News(), 1);
  EXPECT_EQ(watch.Deletes(), 1);

  HelperProbe empty;
  empty.AllocBeforeWrite(0);
  EXPECT_TRUE(IsSharedEmpty(empty));
}

TEST_F(BufferTest, AllocBeforeWriteGivesASharerItsOwnBlock) {
  HelperProbe a("abc");
  HelperProbe b(a);
  ASSERT_EQ(RefCount(a), 2);
  b.AllocBeforeWrite(2);
  EXPECT_NE(Chars(a), Chars(b));
  EXPECT_EQ(b.GetAllocLength(), 2);
  EXPECT_EQ(RefCount(a), 1);
  EXPECT_EQ(Text(a), "abc");
  EXPECT_EQ(b.GetData(), Header(b));
  EXPECT_EQ(HelperProbe::SafeStrlen(nullptr), 0);
  EXPECT_EQ(HelperProbe::SafeStrlen("four"), 4);
}

}  // namespace
}  // namespace zk_test
