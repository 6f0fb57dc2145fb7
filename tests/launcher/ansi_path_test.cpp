// Which form of a path the launcher's ANSI functions get: the path itself
// when the code page holds it, its short form otherwise, nothing when
// neither names it. Short forms are injected: whether a volume has them is
// the system's to decide, and Wine always makes one.
#include "launcher/ansi_path.h"

#include <gtest/gtest.h>

#include <string>

namespace kv {
namespace {

std::wstring NoShortForm(const std::wstring&) { return std::wstring(); }
std::wstring EightDotThree(const std::wstring&) { return L"C:\\USERS\\A0B1~1\\TEMP\\"; }
std::wstring UnicodeShortForm(const std::wstring&) { return L"C:\\\x042e~1\\"; }

struct AnsiCase {
  const char* what;
  std::wstring path;
  unsigned codePage;
  std::wstring (*shortPath)(const std::wstring&);
  bool ok;
  bool shortForm;
  std::string ansi;
};

TEST(AnsiPath, TheCodePageFormWhereItHoldsThePathElseTheShortFormElseNothing) {
  const AnsiCase cases[] = {
      {"plain", L"C:\\Temp\\", 1252, NoShortForm, true, false, "C:\\Temp\\"},
      {"Western letters", L"C:\\Jos\x00E9 M\x00FCller\\", 1252, NoShortForm, true, false,
       "C:\\Jos\xE9 M\xFCller\\"},
      {"Cyrillic", L"C:\\Users\\\x042e\x043d\x0438\\Temp\\", 1252, EightDotThree, true, true,
       "C:\\USERS\\A0B1~1\\TEMP\\"},
      {"Chinese, no short names", L"C:\\\x65E5\x672C\x8A9E\\", 1252, NoShortForm, false, false, ""},
      {"short form outside the code page too", L"C:\\\x042e\x043d\\", 1252, UnicodeShortForm,
       false, false, ""},
      // A best-fit "L" for the Polish letter would name another folder.
      {"no best fit", L"C:\\\x0141\x00F3" L"d\x017A\\", 1252, EightDotThree, true, true,
       "C:\\USERS\\A0B1~1\\TEMP\\"},
      // On a Japanese system the code page holds these, and no second byte
      // is a backslash.
      {"double-byte", L"C:\\\x65E5\x672C\\", 932, NoShortForm, true, false,
       "C:\\\x93\xFA\x96\x7B\\"},
      // U+8868 is 0x95 0x5C there: every search for a backslash would cut it.
      {"second byte 0x5C", L"C:\\\x8868\\", 932, EightDotThree, true, true,
       "C:\\USERS\\A0B1~1\\TEMP\\"},
  };
  for (const AnsiCase& c : cases) {
    const AnsiPath got = ToAnsiPath(c.path, c.codePage, c.shortPath);
    EXPECT_EQ(got.ok, c.ok) << c.what;
    EXPECT_EQ(got.shortForm, c.shortForm) << c.what;
    EXPECT_EQ(got.ansi, c.ansi) << c.what;
  }
}

}  // namespace
}  // namespace kv
