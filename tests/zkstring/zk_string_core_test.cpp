// The block model: the shared empty block, exact allocation, sharing and copy
// on write, assignment, concatenation and comparison.
#include <cstring>
#include <string>

#include "tests/zkstring/zk_string_test_support.h"

namespace zk_test {
namespace {

// Built by a dynamic initialiser of this file, which may run before or after
// the library's own static data is touched: it must not matter.
ZkString g_builtAtStartUp("start-up");
ZkString g_emptyAtStartUp;

using CoreTest = ZkStringTest;

TEST_F(CoreTest, StringsWithStaticStorageWorkFromStartUp) {
  EXPECT_EQ(Text(g_builtAtStartUp), "start-up");
  EXPECT_TRUE(IsSharedEmpty(g_emptyAtStartUp));
}

TEST_F(CoreTest, EveryEmptyConstructionSharesTheStaticBlockWithoutAllocating) {
  const unsigned char emptyBytes[] = {0};
  AllocationWatch watch;
  {
    ZkString made[] = {ZkString(),           ZkString(""),
                       ZkString(static_cast<const char*>(nullptr)),
                       ZkString(emptyBytes), ZkString('x', 0),
                       ZkString('x', -3),    ZkString(static_cast<const char*>(nullptr), 0),
                       ZkString(CString{""}), ZkString(ZkString())};
    for (const ZkString& s : made) {
      // No SCOPED_TRACE here: it allocates.
      EXPECT_TRUE(IsSharedEmpty(s)) << "construction " << &s - made;
      EXPECT_EQ(s.GetLength(), 0);
      EXPECT_EQ(s.GetAllocLength(), 0);
      EXPECT_TRUE(s.IsEmpty());
      EXPECT_STREQ(s, "");
    }
  }
  EXPECT_EQ(watch.News(), 0);
  EXPECT_EQ(watch.Deletes(), 0);
}

TEST_F(CoreTest, ConstructorsMakeOneBlockOfExactlyTheLength) {
  static const unsigned char bytes[] = {'u', 'c', 0};
  struct Case {
    const char* what;
    ZkString (*make)();
    std::string text;
  };
  const Case cases[] = {
      {"C string", [] { return ZkString("abc"); }, "abc"},
      {"unsigned C string", [] { return ZkString(bytes); }, "uc"},
      {"repeat", [] { return ZkString('x', 3); }, "xxx"},
      {"counted, NULs kept", [] { return ZkString("a\0b", 3); }, std::string("a\0b", 3)},
      {"foreign CString", [] { return ZkString(CString{"foreign"}); }, "foreign"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AllocationWatch watch;
    ZkString s = c.make();
    EXPECT_EQ(watch.News(), 1);
    EXPECT_EQ(Text(s), c.text);
    EXPECT_EQ(s.GetAllocLength(), static_cast<int>(c.text.size()));
    EXPECT_EQ(RefCount(s), 1);
  }
}

TEST_F(CoreTest, CopiesShareUntilOneIsWritten) {
  ZkString original("hello");
  AllocationWatch watch;
  ZkString copy(original);
  EXPECT_EQ(Chars(copy), Chars(original));
  EXPECT_EQ(RefCount(original), 2);
  EXPECT_EQ(watch.News(), 0);

  copy.SetAt(0, 'j');
  EXPECT_EQ(watch.News(), 1);
  EXPECT_NE(Chars(copy), Chars(original));
  EXPECT_EQ(Text(copy), "jello");
  EXPECT_EQ(copy.GetAllocLength(), 5);
  EXPECT_EQ(Text(original), "hello");
  EXPECT_EQ(RefCount(original), 1);
  EXPECT_EQ(RefCount(copy), 1);
}

TEST_F(CoreTest, CopyOnWriteDoesNotCarrySpareCapacity) {
  ZkString roomy("ab");
  roomy.GetBuffer(20);
  roomy.ReleaseBuffer();
  ZkString copy = roomy;
  copy.SetAt(1, 'x');
  EXPECT_EQ(copy.GetAllocLength(), 2);
  EXPECT_EQ(roomy.GetAllocLength(), 20);
}

TEST_F(CoreTest, AssignmentSharesAndSelfAssignmentChangesNothing) {
  ZkString a("text");
  ZkString b("other");
  AllocationWatch watch;
  b = a;
  EXPECT_EQ(Chars(b), Chars(a));
  EXPECT_EQ(RefCount(a), 2);
  EXPECT_EQ(watch.Deletes(), 1) << "b's old block is freed";

  a = a;
  b = a;
  EXPECT_EQ(RefCount(a), 2);

  ZkString empty;
  b = empty;
  EXPECT_TRUE(IsSharedEmpty(b));
  EXPECT_EQ(RefCount(a), 1);
  EXPECT_EQ(watch.News(), 0);
}

TEST_F(CoreTest, TextAssignmentReusesAPrivateBlockThatIsLargeEnough) {
  ZkString s("hello");
  const char* block = Chars(s);
  AllocationWatch watch;
  s = "hi";
  EXPECT_EQ(Chars(s), block);
  EXPECT_EQ(s.GetAllocLength(), 5);
  EXPECT_EQ(Text(s), "hi");
  s = "";
  EXPECT_EQ(Chars(s), block) << "the empty text keeps a private block";
  EXPECT_EQ(watch.News(), 0);

  s = "longer than five";
  EXPECT_EQ(watch.News(), 1);
  EXPECT_EQ(s.GetAllocLength(), 16);
  s = Chars(s) + 7;  // a text inside the string itself
  EXPECT_EQ(Text(s), "than five");
}

TEST_F(CoreTest, TextAssignmentToASharedBlockLeavesTheOtherOwner) {
  ZkString a("shared text");
  ZkString b(a);
  b = Chars(b) + 7;  // points into the block that a still owns
  EXPECT_EQ(Text(b), "text");
  EXPECT_EQ(Text(a), "shared text");
  EXPECT_EQ(RefCount(a), 1);
}

TEST_F(CoreTest, AssigningACharacterGivesOneCharacterEvenForNul) {
  ZkString s;
  s = '\0';
  EXPECT_EQ(s.GetLength(), 1);
  EXPECT_EQ(Text(s), std::string(1, '\0'));
  s = 'q';
  EXPECT_EQ(Text(s), "q");
}

TEST_F(CoreTest, EmptyOnOneOfTwoSharersEmptiesOnlyThatOne) {
  ZkString a("abc");
  ZkString b(a);
  b.Empty();
  EXPECT_TRUE(IsSharedEmpty(b));
  EXPECT_EQ(Text(a), "abc");
  EXPECT_EQ(RefCount(a), 1);
}

TEST_F(CoreTest, ConcatenationMakesExactlyOneBlockOfTheCombinedLength) {
  const ZkString ab("ab");
  const ZkString cd("cd");
  struct Case {
    const char* what;
    ZkString (*join)(const ZkString&, const ZkString&);
    std::string text;
  };
  const Case cases[] = {
      {"string + string", [](const ZkString& l, const ZkString& r) { return l + r; }, "abcd"},
      {"string + text", [](const ZkString& l, const ZkString&) { return l + "xyz"; }, "abxyz"},
      {"text + string", [](const ZkString&, const ZkString& r) { return "xyz" + r; }, "xyzcd"},
      {"string + char", [](const ZkString& l, const ZkString&) { return l + '!'; }, "ab!"},
      {"char + string", [](const ZkString&, const ZkString& r) { return '!' + r; }, "!cd"},
      {"string + NUL", [](const ZkString& l, const ZkString&) { return l + '\0'; },
       std::string("ab\0", 3)},
      {"string + null text",
       [](const ZkString& l, const ZkString&) { return l + static_cast<const char*>(nullptr); },
       "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AllocationWatch watch;
    ZkString joined = c.join(ab, cd);
    EXPECT_EQ(watch.News(), 1);
    EXPECT_EQ(Text(joined), c.text);
    EXPECT_EQ(joined.GetAllocLength(), static_cast<int>(c.text.size()));
    EXPECT_EQ(RefCount(joined), 1);
  }
  AllocationWatch watch;
  ZkString none = ZkString() + "";
  EXPECT_TRUE(IsSharedEmpty(none));
  EXPECT_EQ(watch.News(), 0);
}

TEST_F(CoreTest, AppendingGrowsExactlyOrUsesReservedRoom) {
  ZkString s("abc");
  AllocationWatch watch;
  s += "";
  s += static_cast<const char*>(nullptr);
  EXPECT_EQ(watch.News(), 0);

  s += 'd';
  EXPECT_EQ(watch.News(), 1);
  EXPECT_EQ(s.GetAllocLength(), 4);

  s.GetBuffer(10);
  s.ReleaseBuffer(-1);
  const char* block = Chars(s);
  long before = watch.News();
  s += 'e';
  s += "f";
  s += ZkString("g");  // the temporary allocates; the append does not
  EXPECT_EQ(watch.News() - before, 1);
  EXPECT_EQ(Chars(s), block);
  EXPECT_EQ(Text(s), "abcdefg");
  EXPECT_EQ(s.GetAllocLength(), 10);
}

TEST_F(CoreTest, AppendingToASharedBlockLeavesTheOtherOwnerAlone) {
  ZkString a("ab");
  a.GetBuffer(8);
  a.ReleaseBuffer();
  ZkString b(a);
  b += "cd";
  EXPECT_EQ(Text(a), "ab");
  EXPECT_EQ(Text(b), "abcd");
  EXPECT_EQ(b.GetAllocLength(), 4);
}

TEST_F(CoreTest, AppendingAStringToItselfDoublesIt) {
  ZkString s("ab");
  s += s;
  EXPECT_EQ(Text(s), "abab");
  s += Chars(s) + 1;
  EXPECT_EQ(Text(s), "ababbab");
}

TEST_F(CoreTest, ComparisonOperatorsInAllThreeForms) {
  const ZkString abc("abc");
  const ZkString abd("abd");
  EXPECT_LT(abc.Compare("abd"), 0);
  EXPECT_TRUE(abc < abd);
  EXPECT_TRUE(abc < "abd");
  EXPECT_TRUE("a" < ZkString("b"));
  EXPECT_FALSE("b" < ZkString("a"));
  EXPECT_TRUE("b" > ZkString("a"));
  EXPECT_TRUE("a" <= ZkString("a"));
  EXPECT_TRUE("a" >= ZkString("a"));
  EXPECT_FALSE("b" <= ZkString("a"));
  EXPECT_FALSE("a" >= ZkString("b"));
  EXPECT_TRUE(abd > abc);
  EXPECT_TRUE(abd >= "abd");
  EXPECT_TRUE(abc <= "abc");
  EXPECT_TRUE(abc == "abc");
  EXPECT_TRUE("abc" == abc);
  EXPECT_TRUE(abc != abd);
  EXPECT_TRUE("abd" != abc);
  EXPECT_FALSE(abc == abd);
  EXPECT_TRUE(ZkString("ab\0x", 4) == ZkString("ab\0y", 4)) << "compared up to the first NUL";
  EXPECT_EQ(abc.CompareNoCase("ABC"), 0);
  EXPECT_NE(abc.Compare("ABC"), 0);
  EXPECT_EQ(abc.Collate("abc"), 0);
  EXPECT_EQ(abc.CollateNoCase("ABC"), 0);
}

}  // namespace
}  // namespace zk_test
