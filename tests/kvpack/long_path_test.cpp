// The \\?\ form kvpack.exe gives every path, so that a payload deeper than
// 260 characters is read on Windows: one row per kind of path.
#include <gtest/gtest.h>

#include <string>

#include "tools/kvpack/host/long_path.h"

namespace kv {
namespace {

TEST(LongPath, TakesDriveAndUncPathsToTheExtendedFormAndLeavesTheRest) {
  const struct {
    const wchar_t* full;
    const wchar_t* extended;
  } kCases[] = {
      {L"C:\\payload\\BASE\\StageRun.exe", L"\\\\?\\C:\\payload\\BASE\\StageRun.exe"},
      {L"z:\\", L"\\\\?\\z:\\"},
      {L"\\\\server\\share\\payload", L"\\\\?\\UNC\\server\\share\\payload"},
      {L"\\\\?\\C:\\already", L"\\\\?\\C:\\already"},
      {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share"},
      {L"\\\\.\\pipe\\name", L"\\\\.\\pipe\\name"},
      {L"C:relative", L"C:relative"},
      {L"relative\\path", L"relative\\path"},
      {L"\\rooted", L"\\rooted"},
      {L"\\\\", L"\\\\"},
      {L"", L""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ExtendedLengthPath(c.full), c.extended) << "row " << (&c - kCases);
  }
  // A path past the old limit keeps every character.
  std::wstring deep = L"D:";
  while (deep.size() < 1000) deep += L"\\folder_of_twenty_six_chars";
  EXPECT_EQ(ExtendedLengthPath(deep), L"\\\\?\\" + deep);
}

}  // namespace
}  // namespace kv
