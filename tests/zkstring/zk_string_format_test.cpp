// printf-style and message-style formatting, and the wide view.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/zkstring/zk_string_test_support.h"

namespace zk_test {
namespace {

using FormatTest = ZkStringTest;

// The exact decimal digits of 2^exponent, worked out by repeated doubling.
std::string PowerOfTwo(int exponent) {
  std::string digits = "1";  // least significant first
  for (int i = 0; i < exponent; ++i) {
    int carry = 0;
    for (char& d : digits) {
      int v = (d - '0') * 2 + carry;
      d = static_cast<char>('0' + v % 10);
      carry = v / 10;
    }
    if (carry) digits.push_back(static_cast<char>('0' + carry));
  }
  return std::string(digits.rbegin(), digits.rend());
}

struct FormatCase {
  const char* what;
  std::function<void(ZkString&)> format;
  std::string text;
  int capacity;  // on a string that starts empty
};

// Each row formats into an empty string: the result must be the full text,
// the block must be undamaged, and the capacity is the estimate (or, where
// the estimate falls short, exactly the text).
void RunFormatCases(const std::vector<FormatCase>& cases) {
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.what);
    ZkString s;
    c.format(s);
    EXPECT_EQ(Text(s), c.text);
    EXPECT_EQ(s.GetAllocLength(), c.capacity);
    if (!IsSharedEmpty(s)) {
      EXPECT_TRUE(BlockIntact(s));
    }
  }
}

TEST_F(FormatTest, EstimateReservesTheDocumentedCapacity) {
  const char* null = nullptr;
  RunFormatCases({
      {"%d.bat", [](ZkString& s) { s.Format("%d.bat", 7); }, "7.bat", 36},
      {"%% pair", [](ZkString& s) { s.Format("100%%"); }, "100%", 4},
      {"width 5, precision 2", [](ZkString& s) { s.Format("%5.2s", "abcdef"); }, "   ab", 5},
      {"string", [](ZkString& s) { s.Format("<%s>", "text"); }, "<text>", 6},
      {"null string", [null](ZkString& s) { s.Format("%s", null); }, "(null)", 6},
      {"empty string", [](ZkString& s) { s.Format("%s!", ""); }, "!", 2},
      {"char", [](ZkString& s) { s.Format("%c", 'x'); }, "x", 2},
      {"alternate form", [](ZkString& s) { s.Format("%#x", 255); }, "0xff", 34},
      {"width and precision over 32", [](ZkString& s) { s.Format("%30.10d", 5); },
       std::string(20, ' ') + "0000000005", 40},
      {"floating", [](ZkString& s) { s.Format("%.2f", 1.5); }, "1.50", 128},
      {"two conversions", [](ZkString& s) { s.Format("%s=%u", "n", 42u); }, "n=42", 1 + 1 + 32},
      {"empty format", [](ZkString& s) { s.Format(""); }, "", 0},
  });
}

TEST_F(FormatTest, OutputBeyondTheEstimateIsFormattedInFull) {
  std::string power = PowerOfTwo(500) + ".000000";
  std::string left40 = "7" + std::string(39, ' ') + "|";
  RunFormatCases({
      {"%E", [](ZkString& s) { s.Format("%E", 1.5); }, "1.500000E+000", 128},
      {"%I64d", [](ZkString& s) { s.Format("%I64d", 1234567890123LL); }, "1234567890123", 32},
      {"%lld", [](ZkString& s) { s.Format("%lld", -9223372036854775807LL - 1); },
       "-9223372036854775808", 32},
      {"negative width through *", [](ZkString& s) { s.Format("%*d|", -40, 7); }, left40, 41},
      {"negative precision through *", [](ZkString& s) { s.Format("%.*s", -1, "hello"); }, "hello",
       5},
      {"%f of 2^500", [](ZkString& s) { s.Format("%f", std::ldexp(1.0, 500)); }, power,
       static_cast<int>(power.size())},
  });
}

TEST_F(FormatTest, ArgumentsAfterA64BitOrUnlistedConversionStayInStep) {
  // The estimate takes every argument with the size the formatter takes it
  // with, so it never reads a text pointer out of the middle of a number.
  RunFormatCases({
      {"%I64d %s", [](ZkString& s) { s.Format("%I64d %s", 0x0000012300000456LL, "tail"); },
       "1249835484246 tail", 32 + 1 + 4},
      {"%lld|%s", [](ZkString& s) { s.Format("%lld|%s", 5LL, "x"); }, "5|x", 32 + 1 + 1},
      {"%E|%s", [](ZkString& s) { s.Format("%E|%s", 2.0, "y"); }, "2.000000E+000|y", 128 + 1 + 1},
      {"%ls|%s", [](ZkString& s) { s.Format("%ls|%s", L"wide", "z"); }, "wide|z", 4 + 1 + 1},
  });
}

TEST_F(FormatTest, TheTextIsTheCRuntimesOwn) {
  // What the system's runtime writes, where a C99 formatter differs: three
  // exponent digits, "L" taking a double, "F" and "N" as size prefixes of an
  // int, "w" for a wide text; the arguments behind them stay in step.
  RunFormatCases({
      {"%e", [](ZkString& s) { s.Format("%e", 1.0); }, "1.000000e+000", 128},
      {"%g", [](ZkString& s) { s.Format("%g", 1e-5); }, "1e-005", 128},
      {"%Lf|%s", [](ZkString& s) { s.Format("%Lf|%s", 1.5, "x"); }, "1.500000|x", 128 + 1 + 1},
      {"%Fd|%Nd|%s", [](ZkString& s) { s.Format("%Fd|%Nd|%s", 5, 6, "x"); }, "5|6|x",
       32 + 1 + 32 + 1 + 1},
      {"%ws|%s", [](ZkString& s) { s.Format("%ws|%s", L"w", "z"); }, "w|z", 1 + 1 + 1},
      {"unconvertible wide text", [](ZkString& s) { s.Format("%ls", L"\x4E2D"); }, "", 1},
  });
}

// msvcrt's own _vsnprintf, looked up in the loaded runtime by name, so that
// the comparison does not depend on which formatter the headers select.
template <typename... Args>
std::string RuntimeFormat(const char* format, Args... args) {
  using Vsnprintf = int(__cdecl*)(char*, std::size_t, const char*, va_list);
  static const auto vsnprintfOfRuntime = reinterpret_cast<Vsnprintf>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("msvcrt.dll"), "_vsnprintf")));
  char text[512];
  auto call = [&](const char* f, ...) {
    va_list list;
    va_start(list, f);
    int n = vsnprintfOfRuntime(text, sizeof text - 1, f, list);
    va_end(list);
    return n;
  };
  int n = call(format, args...);
  return n < 0 ? "(failed)" : std::string(text, static_cast<std::size_t>(n));
}

template <typename... Args>
void ExpectSameAsTheRuntime(const char* format, Args... args) {
  ZkString s;
  s.Format(format, args...);
  EXPECT_EQ(Text(s), RuntimeFormat(format, args...)) << format;
}

TEST_F(FormatTest, FormatWritesWhatTheRuntimesFormatterWrites) {
  ExpectSameAsTheRuntime("%e|%E|%g|%G", 1.0, -2.5e-10, 1e100, 1e-300);
  ExpectSameAsTheRuntime("%Lf|%Le|%.3Lg", 1.5, 2.0, 3.0);
  ExpectSameAsTheRuntime("%p|%#x|%+05d|%-4o|", reinterpret_cast<void*>(0x1234), 255, 7, 8);
  ExpectSameAsTheRuntime("%I64d|%lld|%I32u|%hd", 1LL << 40, -1LL, 4000000000u, 70000);
  ExpectSameAsTheRuntime("%Fs|%Ns|%hs|%S|%C", "far", "near", "narrow", L"wide", L'c');
}

TEST_F(FormatTest, ATextWithAPrecisionIsReadNoFurtherThanThePrecision) {
  // Six characters without a terminator, right in front of a page that
  // cannot be read.
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  const std::size_t page = info.dwPageSize;
  struct Region {
    char* base;
    ~Region() { ::VirtualFree(base, 0, MEM_RELEASE); }
  } region{static_cast<char*>(
      ::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))};
  ASSERT_NE(region.base, nullptr);
  DWORD previous;
  ASSERT_TRUE(::VirtualProtect(region.base + page, page, PAGE_NOACCESS, &previous));
  char* text = region.base + page - 6;
  std::memcpy(text, "abcdef", 6);

  ZkString s;
  s.Format("%.3s|%.6s|%8.6s|%.*s|%.0s.", text, text, text, 6, text, region.base + page);
  EXPECT_EQ(Text(s), "abc|abcdef|  abcdef|abcdef|.");
}

TEST_F(FormatTest, TheFormatAndTextsMayComeFromTheStringItself) {
  // With room to spare the output would overwrite what is still to be read;
  // without, the block that holds it would be freed.
  struct Case {
    const char* what;
    const char* before;
    int room;
    void (*format)(ZkString&);
    const char* after;
  };
  const Case cases[] = {
      {"text argument twice", "abc", 0,
       [](ZkString& s) { s.Format("%s-%s", Chars(s), Chars(s)); }, "abc-abc"},
      {"text argument, in place", "hello", 64, [](ZkString& s) { s.Format("<%s>", Chars(s)); },
       "<hello>"},
      {"format", "x%dy", 0, [](ZkString& s) { s.Format(Chars(s), 5); }, "x5y"},
      {"format, in place", "%d-%d", 64, [](ZkString& s) { s.Format(Chars(s), 100, 2); }, "100-2"},
      {"wide view", "ab", 0,
       [](ZkString& s) {
         const unsigned short* wide = s;
         s.Format("%ls|%s", wide, Chars(s));
       },
       "ab|ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZkString s(c.before);
    if (c.room > 0) {
      s.GetBuffer(c.room);
      s.ReleaseBuffer();
    }
    c.format(s);
    EXPECT_EQ(Text(s), c.after);
    EXPECT_TRUE(BlockIntact(s));
  }
}

TEST_F(FormatTest, HugeFloatingValueIsNotCut) {
  ZkString s;
  s.Format("%f", 1e200);
  EXPECT_EQ(s.GetLength(), 207);  // the double nearest 1e200 has 200 digits
  EXPECT_EQ(s.GetAllocLength(), 207);
  EXPECT_EQ(Text(s).substr(0, 20), "99999999999999996973");
  EXPECT_EQ(Text(s).substr(200), ".000000");
  EXPECT_TRUE(BlockIntact(s));
}

TEST_F(FormatTest, FormatAllocatesOnceAndKeepsRoomItAlreadyHas) {
  ZkString s;
  AllocationWatch watch;
  s.Format("%d-%d", 1, 2);
  EXPECT_EQ(watch.News(), 1);
  EXPECT_EQ(s.GetAllocLength(), 65);

  s.Format("%s", "short");
  EXPECT_EQ(watch.News(), 1) << "the block is large enough already";
  EXPECT_EQ(Text(s), "short");
  EXPECT_EQ(s.GetAllocLength(), 65);

  ZkString shared(s);
  shared.Format("x");
  EXPECT_EQ(Text(shared), "x");
  EXPECT_EQ(Text(s), "short");
}

TEST_F(FormatTest, FormatMessageFillsNumberedInserts) {
  ZkString s;
  s.FormatMessageA("%1 and %2", "a", "b");
  EXPECT_EQ(Text(s), "a and b");
  s.FormatMessageA("%2-%1!d!", 5, "x");
  EXPECT_EQ(Text(s), "x-5");
}

TEST_F(FormatTest, FormatMessageFailureThrowsAndLeavesTheStringAlone) {
  ZkString s("before");
  const char* block = Chars(s);
  for (const char* bad : {"%", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(s.FormatMessageA(bad), ZkStringFormatError);
    EXPECT_EQ(Chars(s), block);
    EXPECT_EQ(Text(s), "before");
  }
  try {
    s.FormatMessageA("%");
  } catch (const ZkStringFormatError& e) {
    EXPECT_NE(e.SystemError(), 0u);
  }
}

TEST_F(FormatTest, WideViewLivesBehindTheNarrowText) {
  ZkString s("abc");
  const unsigned short* wide = s;
  EXPECT_EQ(reinterpret_cast<const char*>(wide), Chars(s) + 4);
  EXPECT_GE(s.GetAllocLength(), 12);
  EXPECT_EQ(Text(s), "abc");
  const unsigned short expected[] = {'a', 'b', 'c', 0};
  EXPECT_EQ(std::memcmp(wide, expected, sizeof expected), 0);
  EXPECT_TRUE(BlockIntact(s));
}

TEST_F(FormatTest, WideViewOfAnEmptyStringGetsABlockOfItsOwn) {
  ZkString s;
  const unsigned short* wide = s;
  EXPECT_FALSE(IsSharedEmpty(s));
  EXPECT_EQ(s.GetAllocLength(), 6);
  EXPECT_EQ(s.GetLength(), 0);
  EXPECT_EQ(wide[0], 0);
}

TEST_F(FormatTest, WideViewStopsAtAnEmbeddedNul) {
  ZkString s("ab\0cd", 5);
  const unsigned short* wide = s;
  EXPECT_EQ(s.GetLength(), 2);
  EXPECT_EQ(reinterpret_cast<const char*>(wide), Chars(s) + 6);
  EXPECT_EQ(wide[0], 'a');
  EXPECT_EQ(wide[1], 'b');
  EXPECT_EQ(wide[2], 0);
}

}  // namespace
}  // namespace zk_test
