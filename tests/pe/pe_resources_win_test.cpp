// FindPeResources on a file the real toolchain made: this test executable
// carries KVArc resources (pe_resources_fixture.rc), reads its own file, and
// must find exactly what the Windows resource calls find in the loaded image.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "pe/pe_resources.h"

namespace kv {
namespace {

struct Loaded {
  std::string name;
  WORD language;
  std::vector<std::uint8_t> bytes;
};

BOOL CALLBACK OnLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param) {
  auto* out = reinterpret_cast<std::vector<Loaded>*>(param);
  HRSRC found = FindResourceExA(module, type, name, language);
  if (found == nullptr) return FALSE;
  const DWORD size = SizeofResource(module, found);
  const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
  out->push_back({IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name))
                                       : std::string(name),
                  language, std::vector<std::uint8_t>(data, data + size)});
  return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
  return EnumResourceLanguagesA(module, type, name, OnLanguage, param);
}

std::vector<std::uint8_t> OwnFile() {
  char path[MAX_PATH];
  EXPECT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

TEST(PeResourcesOnThisExecutable, AgreesWithTheWindowsResourceCalls) {
  std::vector<Loaded> expected;
  ASSERT_TRUE(EnumResourceNamesA(nullptr, kArchiveResourceType, OnName,
                                 reinterpret_cast<LONG_PTR>(&expected)));
  ASSERT_EQ(expected.size(), 3u);  // the fixture's three archives

  const std::vector<std::uint8_t> file = OwnFile();
  ASSERT_FALSE(file.empty());
  ASSERT_TRUE(LooksLikePeFile(file.data(), file.size()));
  std::vector<PeResource> found;
  std::string error;
  ASSERT_TRUE(FindPeResources(file.data(), file.size(), kArchiveResourceType, &found, &error))
      << error;
  ASSERT_EQ(found.size(), expected.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(found[i].name, expected[i].name);
    EXPECT_EQ(found[i].language, expected[i].language);
    EXPECT_EQ(std::vector<std::uint8_t>(found[i].data, found[i].data + found[i].size),
              expected[i].bytes);
  }
  // The names and languages the fixture gave, as the toolchain stored them.
  EXPECT_EQ(found[0].name, "BASE");
  EXPECT_EQ(found[0].language, kArchiveLanguage);
  EXPECT_EQ(found[0].size, 29u);

  // Lookup by the other spellings of the type finds the same resources.
  for (const char* spelling : {"kvarc", "KVARC"}) {
    std::vector<PeResource> again;
    ASSERT_TRUE(FindPeResources(file.data(), file.size(), spelling, &again, &error));
    EXPECT_EQ(again.size(), found.size()) << spelling;
  }
  std::vector<PeResource> rcdata;
  ASSERT_TRUE(FindPeResources(file.data(), file.size(), "#10", &rcdata, &error));
  ASSERT_EQ(rcdata.size(), 1u);
  EXPECT_EQ(rcdata[0].name, "#7");
}

}  // namespace
}  // namespace kv
