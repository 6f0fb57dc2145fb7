// ValidateEntryName: one row per name, accepted or refused with its reason.
#include <gtest/gtest.h>

#include <string>

#include "archive/archive_format.h"
#include "archive/name_case.h"

#ifdef _WIN32
#include "platform/win32.h"
#endif

namespace kv {
namespace {

struct NameCase {
  std::string name;
  NameFault fault;
};

TEST(EntryName, KeepsEveryNameInsideTheWorkFolder) {
  const NameCase cases[] = {
      // Accepted.
      {"a", NameFault::kNone},
      {"StageRun.exe", NameFault::kNone},
      {"bin\\holdproc.exe", NameFault::kNone},
      {"a\\b\\c.txt", NameFault::kNone},
      {std::string(255, 'x'), NameFault::kNone},
      {"x..y", NameFault::kNone},
      {"..a", NameFault::kNone},
      {".profile", NameFault::kNone},
      {"a b & c^d%e.txt", NameFault::kNone},
      {"Jos\xE9.txt", NameFault::kNone},
      {"console.txt", NameFault::kNone},
      {"COM0", NameFault::kNone},
      {"LPT10", NameFault::kNone},
      {"COM\xB4", NameFault::kNone},
      {"connect\\auxiliary.dat", NameFault::kNone},
      // Refused.
      {"", NameFault::kEmpty},
      {std::string(256, 'x'), NameFault::kTooLong},
      {"\\evil.exe", NameFault::kEmptyComponent},
      {"\\\\server\\share\\x", NameFault::kEmptyComponent},
      {"a\\", NameFault::kEmptyComponent},
      {"a\\\\b", NameFault::kEmptyComponent},
      {"..", NameFault::kDotComponent},
      {"..\\evil.exe", NameFault::kDotComponent},
      {"a\\..\\..\\evil.exe", NameFault::kDotComponent},
      {".", NameFault::kDotComponent},
      {"a\\.\\b", NameFault::kDotComponent},
      {"...", NameFault::kDotComponent},
      {".. \\x", NameFault::kDotComponent},
      {" ", NameFault::kDotComponent},
      {"C:evil.exe", NameFault::kBadCharacter},
      {"C:\\evil.exe", NameFault::kBadCharacter},
      {"file.txt:stream", NameFault::kBadCharacter},
      {"a/b", NameFault::kBadCharacter},
      {"../evil.exe", NameFault::kBadCharacter},
      {"*.*", NameFault::kBadCharacter},
      {"a?.txt", NameFault::kBadCharacter},
      {"a\"b", NameFault::kBadCharacter},
      {"a|b", NameFault::kBadCharacter},
      {"a<b", NameFault::kBadCharacter},
      {"a>b", NameFault::kBadCharacter},
      {"a\tb", NameFault::kBadCharacter},
      {std::string("a\0b", 3), NameFault::kBadCharacter},
      {"CON", NameFault::kReservedDevice},
      {"nul.txt", NameFault::kReservedDevice},
      {"a\\Com1\\b.txt", NameFault::kReservedDevice},
      {"aux .log", NameFault::kReservedDevice},
      {"LPT9", NameFault::kReservedDevice},
      {"COM\xB9", NameFault::kReservedDevice},
      {"lpt\xB2.txt", NameFault::kReservedDevice},
      {"a\\Com\xB3", NameFault::kReservedDevice},
      {"prn.tar.gz", NameFault::kReservedDevice},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(ValidateEntryName(c.name), c.fault) << "name \"" << c.name << "\"";
  }
}

TEST(NameCase, FoldsTheWholeWindows1252SetAsTheFileSystemDoes) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"Setup.ini", "SETUP.INI", true},
      {"\xC4.txt", "\xE4.txt", true},          // Ä ä
      {"\x8A\x8C\x8E", "\x9A\x9C\x9E", true},  // Š Œ Ž, š œ ž
      {"\x9F", "\xFF", true},                  // Ÿ ÿ
      {"\xDE\xC0", "\xFE\xE0", true},          // Þ À, þ à
      {"\xD7", "\xF7", false},                 // × ÷
      {"\xDF", "SS", false},                   // ß has no one-letter upper case
      {"\xB5", "\xCC", false},                 // µ
      {"a", "ab", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameFileName(c.a, c.b), c.same) << c.a << " / " << c.b;
  }
#ifdef _WIN32
  // The fold is the system's own upper-casing of Windows-1252, byte by byte.
  for (int byte = 1; byte < 256; ++byte) {
    const char in = static_cast<char>(byte);
    wchar_t wide = 0;
    ASSERT_EQ(::MultiByteToWideChar(1252, 0, &in, 1, &wide, 1), 1);
    ::CharUpperBuffW(&wide, 1);
    char back = 0;
    BOOL lost = FALSE;
    const bool fits = ::WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, &wide, 1, &back, 1,
                                            nullptr, &lost) == 1 && !lost;
    const unsigned char expected = fits ? static_cast<unsigned char>(back) : byte;
    EXPECT_EQ(FoldNameByte(static_cast<unsigned char>(byte)), expected) << "byte " << byte;
  }
#endif
}

}  // namespace
}  // namespace kv
