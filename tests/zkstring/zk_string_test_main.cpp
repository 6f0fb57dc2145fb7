// Entry point of the string tests. GoogleTest keeps some memory of its own
// from the first use of a feature on (the scoped-trace stack); using those
// features once before the first test keeps that memory out of the
// per-test allocation balance.
#include <gtest/gtest.h>

namespace {

class WarmUp : public ::testing::Environment {
 public:
  void SetUp() override { SCOPED_TRACE("warm-up"); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new WarmUp);
  return RUN_ALL_TESTS();
}
