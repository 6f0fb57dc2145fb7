// Host file names (UTF-8) to entry names (Windows-1252) and back.
#include <gtest/gtest.h>

#include <string>

#include "tools/kvpack/payload/ansi_names.h"

namespace kv {
namespace {

TEST(AnsiNames, ConvertsWhatWindows1252HasAndRefusesTheRest) {
  struct Case {
    std::string utf8;
    bool ok;
    std::string ansi;
  };
  const Case cases[] = {
      {"setup.exe", true, "setup.exe"},
      {"Jos\xC3\xA9", true, "Jos\xE9"},                 // é
      {"Gr\xC3\xB6\xC3\x9F" "e", true, "Gr\xF6\xDF" "e"},  // ö ß
      {"\xE2\x82\xAC", true, "\x80"},                   // € lives at 0x80
      {"\xC5\xB8", true, "\x9F"},                       // Ÿ at 0x9F
      {"\xC2\xA0", true, "\xA0"},                       // no-break space
      {"\xE4\xB8\xAD", false, ""},                      // a CJK character
      {"\xC2\x81", false, ""},                          // U+0081: undefined in 1252
      {"\xE9", false, ""},                              // Latin-1, not UTF-8
      {"\xC3", false, ""},                              // cut short
      {"\xC0\xAF", false, ""},                          // overlong '/'
      {"\xED\xA0\x80", false, ""},                      // a surrogate
      {"\xF0\x9F\x98\x80", false, ""},                  // outside the BMP
  };
  for (const Case& c : cases) {
    std::string ansi;
    EXPECT_EQ(Utf8ToAnsi(c.utf8, &ansi), c.ok) << c.utf8;
    if (c.ok) {
      EXPECT_EQ(ansi, c.ansi) << c.utf8;
      EXPECT_EQ(AnsiToUtf8(ansi), c.utf8);
    }
  }
  EXPECT_EQ(AnsiToUtf8("\x81"), "\xEF\xBF\xBD");  // undefined byte shown as U+FFFD
}

}  // namespace
}  // namespace kv
