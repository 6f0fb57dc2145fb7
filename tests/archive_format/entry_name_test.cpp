// ValidateEntryName: one row per name, accepted or refused with its reason.
#include <gtest/gtest.h>

#include <string>

#include "archive/archive_format.h"

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

}  // namespace
}  // namespace kv
