// The executable named by KV_EXPORTS_EXE exports every member of every class
// listed in expected_exports.cpp, and no member of theirs that is not listed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/zkstring/expected_exports.h"
#include "tests/support/pe_tables.h"

namespace zk_test {
namespace {

std::vector<const ExpectedExport*> MissingExports(const std::set<std::string>& names,
                                                  const ExportedClass& cls) {
  std::vector<const ExpectedExport*> missing;
  for (std::size_t i = 0; i < cls.exportCount; ++i) {
    if (names.count(cls.exports[i].symbol) == 0) missing.push_back(&cls.exports[i]);
  }
  return missing;
}

// Exported names that carry a class's marker but are in no table.
std::vector<std::string> UnlistedExports(const std::set<std::string>& names) {
  std::set<std::string> listed;
  for (const ExportedClass& cls : ExportedClasses()) {
    for (std::size_t i = 0; i < cls.exportCount; ++i) listed.insert(cls.exports[i].symbol);
  }
  std::vector<std::string> unlisted;
  for (const std::string& name : names) {
    for (const ExportedClass& cls : ExportedClasses()) {
      if (name.find(cls.symbolMarker) != std::string::npos && listed.count(name) == 0) {
        unlisted.push_back(name);
        break;
      }
    }
  }
  return unlisted;
}

class ExportCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("KV_EXPORTS_EXE");
    ASSERT_NE(path, nullptr) << "KV_EXPORTS_EXE names the executable to check";
    std::vector<std::string> list;
    std::string error;
    ASSERT_TRUE(kv::test::ReadExportNames(path, &list, &error)) << path << ": " << error;
    names_.insert(list.begin(), list.end());
    path_ = path;
  }

  std::set<std::string> names_;
  std::string path_;
};

TEST_F(ExportCheck, EveryListedMemberIsExported) {
  for (const ExportedClass& cls : ExportedClasses()) {
    std::vector<const ExpectedExport*> missing = MissingExports(names_, cls);
    for (const ExpectedExport* e : missing) {
      ADD_FAILURE() << cls.name << "::" << e->member << " (" << e->symbol << ") is not exported by "
                    << path_;
    }
    std::printf("%s: %u members, %u export names checked, %u missing\n", cls.name,
                static_cast<unsigned>(cls.memberCount), static_cast<unsigned>(cls.exportCount),
                static_cast<unsigned>(missing.size()));
  }
}

TEST_F(ExportCheck, NoExportedMemberIsMissingFromTheList) {
  for (const std::string& name : UnlistedExports(names_)) {
    ADD_FAILURE() << name << " is exported but listed in no table";
  }
}

TEST(ExportTable, ZkStringListHasEveryMemberOnce) {
  std::set<std::string> symbols;
  for (std::size_t i = 0; i < kZkStringExportCount; ++i) {
    EXPECT_TRUE(symbols.insert(kZkStringExports[i].symbol).second) << kZkStringExports[i].symbol;
  }
  // 104 members; the seven constructors and the destructor each have a
  // second (base-object) entry point.
  EXPECT_EQ(kZkStringMemberCount, 104u);
  EXPECT_EQ(kZkStringExportCount, kZkStringMemberCount + 8);
}

TEST(ExportTable, TheCheckReportsANameTheImageLacks) {
  const ExpectedExport extra[] = {{"present", "_ZN8ZkString9GetBufferEi"},
                                  {"absent", "_ZN8ZkString12NotAFunctionEv"}};
  const ExportedClass cls = {"Probe", "ZkString", extra, 2, 2};
  std::set<std::string> names = {"_ZN8ZkString9GetBufferEi", "_ZN8ZkString6UnlistEv"};
  std::vector<const ExpectedExport*> missing = MissingExports(names, cls);
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_STREQ(missing[0]->member, "absent");
  std::vector<std::string> unlisted = UnlistedExports(names);
  ASSERT_EQ(unlisted.size(), 1u);
  EXPECT_EQ(unlisted[0], "_ZN8ZkString6UnlistEv");
}

TEST(ExportTable, ReadingAFileThatIsNoImageFails) {
  std::vector<std::string> names;
  std::string error;
  EXPECT_FALSE(kv::test::ReadExportNames("Z:\\nonexistent\\nothing.exe", &names, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace zk_test
