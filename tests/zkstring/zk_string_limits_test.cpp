// Lengths that no block can hold (above INT_MAX characters): every member
// that would make one throws std::bad_alloc before it allocates or changes
// anything. The test executable is large-address-aware, as a program bound
// to the class may be, so that a text of more than 1 GiB can exist.
#include <functional>
#include <new>

#include "tests/zkstring/zk_string_test_support.h"

namespace zk_test {
namespace {

constexpr int kBigLength = (1 << 30) + 1;  // twice this is above INT_MAX

class LimitsTest : public ZkStringTest {
 protected:
  // One text of 1 GiB for the whole suite; made before and freed after the
  // per-test allocation balance.
  static void SetUpTestSuite() { big_ = new ZkString('x', kBigLength); }
  static void TearDownTestSuite() {
    delete big_;
    big_ = nullptr;
  }
  static ZkString* big_;
};

ZkString* LimitsTest::big_ = nullptr;

TEST_F(LimitsTest, GrowingAGibibyteTextPastINT_MAXThrowsAndChangesNothing) {
  ZkString& big = *big_;
  const char* block = Chars(big);
  struct Case {
    const char* what;
    std::function<void()> grow;
  };
  const Case cases[] = {
      {"+= itself", [&] { big += big; }},
      {"+= its text", [&] { big += static_cast<const char*>(big); }},
      {"string + string", [&] { ZkString joined = big + big; }},
      {"text + string", [&] { ZkString joined = static_cast<const char*>(big) + big; }},
      {"Insert itself", [&] { big.Insert(0, static_cast<const char*>(big)); }},
      {"wide view (3 x 1 GiB)", [&] { static_cast<const unsigned short*>(big); }},
  };
  for (const Case& c : cases) {
    AllocationWatch watch;
    EXPECT_THROW(c.grow(), std::bad_alloc) << c.what;
    EXPECT_EQ(watch.News(), 0) << c.what;
    EXPECT_EQ(Chars(big), block) << c.what;
    EXPECT_EQ(big.GetLength(), kBigLength) << c.what;
    EXPECT_EQ(big.GetAllocLength(), kBigLength) << c.what;
    EXPECT_EQ(big[kBigLength - 1], 'x') << c.what;
    EXPECT_EQ(big[kBigLength], '\0') << c.what;
  }
  EXPECT_TRUE(BlockIntact(big));
}

TEST_F(LimitsTest, ReplaceWhoseResultNoBlockCanHoldThrowsAndChangesNothing) {
  // Each match grows the text by 2 MiB: 1024 matches make 2^31 + 1024
  // characters; with 2048 the 32-bit product would wrap to 0.
  const ZkString longer('b', (1 << 21) + 1);
  struct Case {
    const char* what;
    char ch;
    int count;
    bool noCase;
  };
  const Case cases[] = {
      {"1024 matches", 'a', 1024, false},
      {"2048 matches", 'a', 2048, false},
      {"1024 matches, case-blind", 'A', 1024, true},
      {"2048 matches, case-blind", 'A', 2048, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ZkString text(c.ch, c.count);
    ZkString s(text);
    EXPECT_THROW(c.noCase ? s.ReplaceNoCase("a", longer) : s.Replace("a", longer), std::bad_alloc);
    EXPECT_EQ(Chars(s), Chars(text)) << "still shared";
    EXPECT_EQ(RefCount(text), 2);
    EXPECT_EQ(Text(s), Text(text));
  }
}

}  // namespace
}  // namespace zk_test
