// Unique names in a real folder: candidate 0 first, then the C runtime's
// random numbers, at most 1000 candidates, the generator seeded only once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/unique_name.h"
#include "platform/win32.h"
#include "tests/support/scoped_folder.h"

namespace kv {
namespace {

// The C runtime's generator: state * 214013 + 2531011, value bits 16-30.
std::vector<int> RandSequence(unsigned seed, int count) {
  std::vector<int> values;
  unsigned state = seed;
  for (int i = 0; i < count; ++i) {
    state = state * 214013u + 2531011u;
    values.push_back(static_cast<int>((state >> 16) & 0x7FFF));
  }
  return values;
}

class UniqueName : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The first call of the process seeds the generator from the clock;
    // afterwards the tests set the state themselves with srand.
    test::ScopedFolder scratch;
    MakeUniqueName((scratch.path() + "%d.seed").c_str());
  }
  void TearDown() override { EXPECT_TRUE(folder_.Remove()); }

  std::string Name(int number, const char* suffix = ".bat") {
    return folder_.path() + std::to_string(number) + suffix;
  }
  void Take(const std::string& path) { ASSERT_TRUE(test::WriteWholeFile(path, "")); }

  test::ScopedFolder folder_;
};

TEST_F(UniqueName, FreeCandidateZeroIsTakenWithoutDrawingANumber) {
  std::srand(4242);
  EXPECT_EQ(std::string(MakeUniqueName((folder_.path() + "%d.bat").c_str())), Name(0));
  EXPECT_EQ(std::rand(), RandSequence(4242, 1)[0]) << "a number was drawn";
}

TEST_F(UniqueName, TakenCandidatesAreFollowedByTheGeneratorsNumbersWithoutReseeding) {
  Take(Name(0));
  const std::vector<int> next = RandSequence(777, 2);
  Take(Name(next[0]));  // the first drawn number is taken too
  std::srand(777);
  EXPECT_EQ(std::string(MakeUniqueName((folder_.path() + "%d.bat").c_str())), Name(next[1]));
}

TEST_F(UniqueName, AFolderMakesACandidateTakenLikeAFile) {
  ASSERT_TRUE(::CreateDirectoryA((folder_.path() + "KVGSetup0").c_str(), nullptr));
  std::srand(99);
  const std::string expected = folder_.path() + "KVGSetup" + std::to_string(RandSequence(99, 1)[0]);
  EXPECT_EQ(std::string(MakeUniqueName((folder_.path() + "KVGSetup%d").c_str())), expected);
}

TEST_F(UniqueName, GivesUpWithTheEmptyTextAfterAThousandTakenCandidates) {
  // Exactly the thousand candidates the generator will offer are taken:
  // 0 and the next 999 numbers from seed 31337.
  const std::vector<int> numbers = RandSequence(31337, 1000);
  Take(Name(0));
  for (int i = 0; i < 999; ++i) Take(Name(numbers[i]));
  std::srand(31337);
  const ZkString result = MakeUniqueName((folder_.path() + "%d.bat").c_str());
  EXPECT_TRUE(result.IsEmpty()) << static_cast<const char*>(result);
  EXPECT_EQ(std::rand(), numbers[999]) << "not exactly 999 numbers were drawn";
}

TEST_F(UniqueName, OnlyTheLastPercentDTakesTheNumber) {
  ASSERT_TRUE(::CreateDirectoryA((folder_.path() + "100%d").c_str(), nullptr));
  const std::string prefix = folder_.path() + "100%d\\";
  EXPECT_EQ(std::string(MakeUniqueName((prefix + "%d.bat").c_str())), prefix + "0.bat");
}

}  // namespace
}  // namespace kv
