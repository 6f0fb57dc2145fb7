// Searching, extraction, trimming, inserting, deleting, replacing and case
// mapping.
#include <string>

#include "tests/zkstring/zk_string_test_support.h"

namespace zk_test {
namespace {

using EditTest = ZkStringTest;

TEST_F(EditTest, Find) {
  const ZkString banana("banana");
  struct Case {
    const char* what;
    int result;
    int expected;
  };
  const Case cases[] = {
      {"char", banana.Find('n'), 2},
      {"missing char", banana.Find('z'), -1},
      {"NUL finds the terminator", banana.Find('\0'), 6},
      {"char from start", banana.Find('a', 2), 3},
      {"char with start at length", banana.Find('a', 6), -1},
      {"NUL from start below length", banana.Find('\0', 1), 6},
      {"text", banana.Find("nan"), 2},
      {"missing text", banana.Find("nab"), -1},
      {"empty text", banana.Find(""), 0},
      {"text from start", banana.Find("an", 2), 3},
      {"empty text at length", banana.Find("", 6), 6},
      {"text beyond length", banana.Find("", 7), -1},
      {"reverse", banana.ReverseFind('a'), 5},
      {"reverse NUL", banana.ReverseFind('\0'), 6},
      {"one of", banana.FindOneOf("xyn"), 2},
      {"none of", banana.FindOneOf("xyz"), -1},
      {"high byte", ZkString("a\xE9").Find('\xE9'), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
}

TEST_F(EditTest, ExtractionClampsAndCopies) {
  const ZkString s("abcdef");
  struct Case {
    const char* what;
    ZkString result;
    const char* expected;
  };
  const Case cases[] = {
      {"Mid(2, 3)", s.Mid(2, 3), "cde"},
      {"Mid(4, 10)", s.Mid(4, 10), "ef"},
      {"Mid(-2, 3)", s.Mid(-2, 3), "abc"},
      {"Mid(1, -1)", s.Mid(1, -1), ""},
      {"Mid(7)", s.Mid(7), ""},
      {"Mid(7, 2)", s.Mid(7, 2), ""},
      {"Mid(-3)", s.Mid(-3), "abcdef"},
      {"Mid(4)", s.Mid(4), "ef"},
      {"Mid(1, INT_MAX)", s.Mid(1, 0x7FFFFFFF), "bcdef"},
      {"Left(-1)", s.Left(-1), ""},
      {"Left(2)", s.Left(2), "ab"},
      {"Left(10)", ZkString("abc").Left(10), "abc"},
      {"Right(2)", ZkString("abc").Right(2), "bc"},
      {"Right(10)", ZkString("abc").Right(10), "abc"},
      {"SpanIncluding", ZkString("cabbage").SpanIncluding("abc"), "cabba"},
      {"SpanExcluding", ZkString("a,b").SpanExcluding(",;"), "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Text(c.result), c.expected);
    if (c.result.IsEmpty()) {
      EXPECT_TRUE(IsSharedEmpty(c.result));
    } else {
      EXPECT_EQ(c.result.GetAllocLength(), c.result.GetLength());
      EXPECT_EQ(RefCount(c.result), 1);
    }
  }
}

TEST_F(EditTest, TheWholeTextIsExtractedIntoANewBlock) {
  const ZkString s("abcdef");
  ZkString whole = s.Mid(-3);
  EXPECT_NE(Chars(whole), Chars(s));
  EXPECT_EQ(RefCount(s), 1);
}

TEST_F(EditTest, Trimming) {
  struct Case {
    const char* what;
    std::string before;
    void (*trim)(ZkString&);
    std::string after;
  };
  const Case cases[] = {
      {"right whitespace", "ab \t\r\n", [](ZkString& s) { s.TrimRight(); }, "ab"},
      {"right keeps inner blanks", " a b ", [](ZkString& s) { s.TrimRight(); }, " a b"},
      {"right all blanks", "   ", [](ZkString& s) { s.TrimRight(); }, ""},
      {"right char", "axx", [](ZkString& s) { s.TrimRight('x'); }, "a"},
      {"right set", "a.;.", [](ZkString& s) { s.TrimRight(".;"); }, "a"},
      {"right null set", "a..",
       [](ZkString& s) { s.TrimRight(static_cast<const char*>(nullptr)); }, "a.."},
      {"right cut at embedded NUL", std::string("a \0bc", 5),
       [](ZkString& s) { s.TrimRight(); }, "a"},
      {"left whitespace", "\t\n ab ", [](ZkString& s) { s.TrimLeft(); }, "ab "},
      {"left char", "xxay", [](ZkString& s) { s.TrimLeft('x'); }, "ay"},
      {"left NUL trims nothing", "ab", [](ZkString& s) { s.TrimLeft('\0'); }, "ab"},
      {"left set", ",;a,", [](ZkString& s) { s.TrimLeft(";,"); }, "a,"},
      {"left keeps what follows an embedded NUL", std::string("  a\0b", 5),
       [](ZkString& s) { s.TrimLeft(); }, std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZkString s(c.before.data(), static_cast<int>(c.before.size()));
    int capacity = s.GetAllocLength();
    c.trim(s);
    EXPECT_EQ(Text(s), c.after);
    if (capacity > 0) {
      EXPECT_EQ(s.GetAllocLength(), capacity) << "trimming keeps the block";
    }
  }
}

TEST_F(EditTest, TrimmingASharedStringCopiesItUnlessTheSetIsEmpty) {
  ZkString a("  ab  ");
  ZkString b(a);
  b.TrimLeft("");
  b.TrimLeft(static_cast<const char*>(nullptr));
  EXPECT_EQ(Chars(a), Chars(b)) << "an empty set leaves the block shared";
  b.TrimLeft();
  b.TrimRight();
  EXPECT_EQ(Text(b), "ab");
  EXPECT_EQ(Text(a), "  ab  ");
}

TEST_F(EditTest, InsertAndDelete) {
  struct Case {
    const char* what;
    const char* before;
    int (*edit)(ZkString&);
    int result;
    const char* after;
    int capacity;
  };
  const Case cases[] = {
      {"insert text past end", "ab", [](ZkString& s) { return s.Insert(10, "x"); }, 3, "abx", 3},
      {"insert text at -1", "ab", [](ZkString& s) { return s.Insert(-1, "zz"); }, 4, "zzab", 4},
      {"insert text inside", "ad", [](ZkString& s) { return s.Insert(1, "bc"); }, 4, "abcd", 4},
      {"insert empty text", "ab", [](ZkString& s) { return s.Insert(1, ""); }, 2, "ab", 2},
      {"insert null text", "ab", [](ZkString& s) { return s.Insert(1, nullptr); }, 2, "ab", 2},
      {"insert text into empty", "", [](ZkString& s) { return s.Insert(5, "new"); }, 3, "new", 3},
      {"insert char", "ac", [](ZkString& s) { return s.Insert(1, 'b'); }, 3, "abc", 3},
      {"insert char at -5", "bc", [](ZkString& s) { return s.Insert(-5, 'a'); }, 3, "abc", 3},
      {"insert char past the end", "ab", [](ZkString& s) { return s.Insert(9, 'c'); }, 3, "abc", 3},
      {"delete inside", "abcde", [](ZkString& s) { return s.Delete(1, 2); }, 5, "ade", 5},
      {"delete past the end", "abcde", [](ZkString& s) { return s.Delete(3, 10); }, 5, "abc", 5},
      {"delete at the end", "abcde", [](ZkString& s) { return s.Delete(5, 1); }, 5, "abcde", 5},
      {"delete nothing", "abcde", [](ZkString& s) { return s.Delete(1, 0); }, 5, "abcde", 5},
      {"delete from -2", "abcde", [](ZkString& s) { return s.Delete(-2, 1); }, 5, "bcde", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZkString s(c.before);
    EXPECT_EQ(c.edit(s), c.result);
    EXPECT_EQ(Text(s), c.after);
    EXPECT_EQ(s.GetAllocLength(), c.capacity);
  }
}

TEST_F(EditTest, InsertingANulCharacterCountsInTheLength) {
  ZkString s("ab");
  EXPECT_EQ(s.Insert(1, '\0'), 3);
  EXPECT_EQ(Text(s), std::string("a\0b", 3));
}

TEST_F(EditTest, EditingASharedStringLeavesTheOtherOwnerAlone) {
  ZkString a("abcde");
  ZkString b(a), c(a), d(a);
  b.Insert(0, "x");
  c.Delete(0, 1);
  d.Replace('a', 'z');
  EXPECT_EQ(Text(a), "abcde");
  EXPECT_EQ(Text(b), "xabcde");
  EXPECT_EQ(Text(c), "bcde");
  EXPECT_EQ(Text(d), "zbcde");
  EXPECT_EQ(RefCount(a), 1);
}

TEST_F(EditTest, ReplaceTexts) {
  struct Case {
    const char* what;
    std::string before;
    const char* oldText;
    const char* newText;
    int count;
    std::string after;
    int capacity;
  };
  const Case cases[] = {
      {"shrinking", "aaaa", "aa", "b", 2, "bb", 4},
      {"growing", "aXa", "a", "bb", 2, "bbXbb", 5},
      {"same length", "abcabc", "bc", "XY", 2, "aXYaXY", 6},
      {"deleting with null", "a-b-c", "-", nullptr, 2, "abc", 5},
      {"no match", "abc", "x", "y", 0, "abc", 3},
      {"empty old text", "abc", "", "y", 0, "abc", 3},
      {"null old text", "abc", nullptr, "y", 0, "abc", 3},
      {"inserted text is not searched again", "aa", "a", "aa", 2, "aaaa", 4},
      {"growing in every NUL-separated piece", std::string("aXa\0aa", 6), "a", "bb", 4,
       std::string("bbXbb\0bbbb", 10), 10},
      {"shrinking in every NUL-separated piece", std::string("aa\0aa\0xaa", 9), "aa", "b", 3,
       std::string("b\0b\0xb", 6), 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZkString s(c.before.data(), static_cast<int>(c.before.size()));
    AllocationWatch watch;
    EXPECT_EQ(s.Replace(c.oldText, c.newText), c.count);
    EXPECT_EQ(Text(s), c.after);
    EXPECT_EQ(s.GetAllocLength(), c.capacity);
    EXPECT_LE(watch.News(), 1);
    EXPECT_TRUE(BlockIntact(s));
  }
}

TEST_F(EditTest, TextsThatPointIntoTheStringItself) {
  // Each row edits the string with a text taken from its own block, with
  // room to spare (no new block: the text would move under the edit) or
  // without (a new block: the old one, and the text in it, is freed).
  struct Case {
    const char* what;
    const char* before;
    int room;
    int (*edit)(ZkString&, const char* own);
    const char* after;
  };
  const Case cases[] = {
      {"new text is the whole string", "xy", 0,
       [](ZkString& s, const char* own) { return s.Replace("x", own); }, "xyy"},
      {"new text is the whole string, in place", "aXa", 20,
       [](ZkString& s, const char* own) { return s.Replace("a", own); }, "aXaXaXa"},
      {"new text is a tail", "a.b", 0,
       [](ZkString& s, const char* own) { return s.Replace(".", own + 1); }, "a.bb"},
      {"old text is a tail", "ab-ab", 0,
       [](ZkString& s, const char* own) { return s.Replace(own + 3, "c"); }, "c-c"},
      {"both texts from the string", "ab", 8,
       [](ZkString& s, const char* own) { return s.Replace(own + 1, own); }, "aab"},
      {"case-blind, old text is a tail", "Ab-ab", 0,
       [](ZkString& s, const char* own) { return s.ReplaceNoCase(own + 3, "X"); }, "X-X"},
      {"case-blind, new text is the whole string", "aB", 0,
       [](ZkString& s, const char* own) { return s.ReplaceNoCase("b", own); }, "aaB"},
      {"insert the whole string", "abc", 0,
       [](ZkString& s, const char* own) { return s.Insert(1, own); }, "aabcbc"},
      {"insert a tail, in place", "abc", 10,
       [](ZkString& s, const char* own) { return s.Insert(0, own + 1); }, "bcabc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZkString s(c.before);
    if (c.room > 0) {
      s.GetBuffer(c.room);
      s.ReleaseBuffer();
    }
    c.edit(s, Chars(s));
    EXPECT_EQ(Text(s), c.after);
    EXPECT_TRUE(BlockIntact(s));
  }
}

TEST_F(EditTest, ReplaceWithoutAMatchLeavesASharedStringShared) {
  ZkString a("abc");
  ZkString b(a);
  EXPECT_EQ(b.Replace("x", "y"), 0);
  EXPECT_EQ(b.Replace('b', 'b'), 0);
  EXPECT_EQ(Chars(a), Chars(b));
}

TEST_F(EditTest, GrowingReplaceOfASharedStringAllocatesOnce) {
  ZkString a("a.b.c");
  ZkString b(a);
  AllocationWatch watch;
  EXPECT_EQ(b.Replace(".", "::"), 2);
  EXPECT_EQ(watch.News(), 1);
  EXPECT_EQ(Text(b), "a::b::c");
  EXPECT_EQ(b.GetAllocLength(), 7);
  EXPECT_EQ(Text(a), "a.b.c");
}

TEST_F(EditTest, ReplaceNoCase) {
  ZkString s("AbcaB");
  EXPECT_EQ(s.ReplaceNoCase("ab", "x"), 2);
  EXPECT_EQ(Text(s), "xcx");
  ZkString t(std::string("xAx\0ax", 6).c_str(), 6);
  EXPECT_EQ(t.ReplaceNoCase("a", "Bb"), 2);
  EXPECT_EQ(Text(t), std::string("xBbx\0Bbx", 8));
}

TEST_F(EditTest, ReplaceAndRemoveCharactersWalkPastEmbeddedNuls) {
  ZkString s(std::string("l\0hello", 7).c_str(), 7);
  EXPECT_EQ(s.Replace('l', 'L'), 3);
  EXPECT_EQ(Text(s), std::string("L\0heLLo", 7));
  ZkString t("hello");
  EXPECT_EQ(t.Remove('l'), 2);
  EXPECT_EQ(Text(t), "heo");
  EXPECT_EQ(t.GetAllocLength(), 5);
  ZkString u(std::string("a\0a", 3).c_str(), 3);
  EXPECT_EQ(u.Remove('\0'), 1);
  EXPECT_EQ(Text(u), "aa");
}

TEST_F(EditTest, CaseOrderAndCodePageConvertInPlaceOnAPrivateCopy) {
  ZkString original("MiXed 1");
  ZkString upper(original), lower(original), reversed(original);
  upper.MakeUpper();
  lower.MakeLower();
  reversed.MakeReverse();
  EXPECT_EQ(Text(upper), "MIXED 1");
  EXPECT_EQ(Text(lower), "mixed 1");
  EXPECT_EQ(Text(reversed), "1 deXiM");
  EXPECT_EQ(Text(original), "MiXed 1");

  // a-umlaut and e-acute in the ANSI code page map to other bytes in the
  // OEM code page and back.
  ZkString oem("x\xE4\xE9");
  ZkString shared(oem);
  oem.CharToOemA();
  EXPECT_EQ(oem.GetLength(), 3);
  EXPECT_EQ(oem[0], 'x');
  EXPECT_NE(Text(oem), Text(shared));
  EXPECT_EQ(Text(shared), "x\xE4\xE9");
  oem.OemToCharA();
  EXPECT_EQ(Text(oem), "x\xE4\xE9");

  ZkString empty;
  empty.MakeUpper();
  empty.CharToOemA();
  empty.OemToCharA();
  EXPECT_TRUE(IsSharedEmpty(empty));
}

}  // namespace
}  // namespace zk_test
