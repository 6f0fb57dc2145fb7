// Checks the test environment itself, so that a broken Wine set-up shows as
// one clear failure instead of as odd failures everywhere.
#include "platform/win32.h"

#include <gtest/gtest.h>

TEST(Harness, RunsAs32BitWindowsProcessWithAnsiCodePage1252) {
  EXPECT_EQ(sizeof(void*), 4u);
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(sizeof(SHELLEXECUTEINFOA), 60u);
}
