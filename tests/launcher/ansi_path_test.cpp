// Which form of a path the launcher's ANSI functions get: the path itself
// when the code page holds it, its short form otherwise, nothing when
// neither names it. Short forms are injected: whether a volume has them is
// the system's to decide, and Wine always makes one.
#include "launcher/ansi_path.h"
#include "launcher/cleanup_script.h"

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

// cmd reads the cleanup script in the OEM code page. Windows-1252 holds
// \x8A (S with caron), \x8C (OE), \x80 (euro) and \x99 (trade mark); code page
// 850 does not, and best-fitted they would name other files.
std::wstring ShortScriptForm(const std::wstring&) { return L"C:\\T\\KVGSET~1\\A~1.TXT"; }

TEST(AnsiPath, ScriptPathsThatTheOemCodePageCannotHoldStandInTheirShortForm) {
  const ScriptCodePages western = {1252, 850};
  const struct {
    const char* path;
    std::wstring (*shortPath)(const std::wstring&);
    bool ok;
    const char* text;
  } cases[] = {
      {"C:\\T\\KVGSetup0\\a.txt", NoShortForm, true, "C:\\T\\KVGSetup0\\a.txt"},
      {"C:\\100%\\%PATH%", NoShortForm, true, "C:\\100%%\\%%PATH%%"},
      {"C:\\Jos\xE9\\a.txt", NoShortForm, true, "C:\\Jos\x82\\a.txt"},  // OEM bytes
      {"C:\\\x8A\\a.txt", ShortScriptForm, true, "C:\\T\\KVGSET~1\\A~1.TXT"},
      {"C:\\\x8C\x80\x99.txt", ShortScriptForm, true, "C:\\T\\KVGSET~1\\A~1.TXT"},
      {"C:\\\x8A\\a.txt", NoShortForm, false, ""},
  };
  for (const auto& c : cases) {
    std::string text;
    EXPECT_EQ(CleanupScript::ScriptPathText(c.path, western, c.shortPath, &text), c.ok) << c.path;
    if (c.ok) {
      EXPECT_EQ(text, c.text) << c.path;
    }
  }
  // The temporary folder must survive both code pages, or its short form
  // stands in for it everywhere.
  const AnsiPath both = ToAnsiAndOemPath(L"C:\\\x0160\\", 1252, 850, EightDotThree);
  EXPECT_TRUE(both.ok && both.shortForm);
  EXPECT_EQ(both.ansi, "C:\\USERS\\A0B1~1\\TEMP\\");
  EXPECT_FALSE(ToAnsiAndOemPath(L"C:\\\x0160\\", 1252, 850, NoShortForm).ok);
  const AnsiPath plain = ToAnsiAndOemPath(L"C:\\Jos\x00E9\\", 1252, 850, NoShortForm);
  EXPECT_TRUE(plain.ok && !plain.shortForm);
  EXPECT_EQ(plain.ansi, "C:\\Jos\xE9\\");
}

}  // namespace
}  // namespace kv
