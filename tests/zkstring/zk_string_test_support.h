// Shared by the string tests: reading a string's block header the way a
// program bound to the exported class sees it, and a fixture that checks,
// after every test, that blocks were balanced and undamaged and that the
// shared empty block is exactly as it started.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/zkstring/alloc_counter.h"
#include "zkstring/zk_string.h"

namespace zk_test {

// The header in front of the characters.
inline const ZkStringData* Header(const ZkString& s) {
  return reinterpret_cast<const ZkStringData*>(static_cast<const char*>(s)) - 1;
}
inline long RefCount(const ZkString& s) { return Header(s)->refCount; }
inline const char* Chars(const ZkString& s) { return static_cast<const char*>(s); }
inline const char* EmptyChars() { return static_cast<const char*>(ZkGetEmptyString()); }
inline bool IsSharedEmpty(const ZkString& s) { return Chars(s) == EmptyChars(); }

// All dataLength characters, embedded NULs included.
inline std::string Text(const ZkString& s) { return std::string(Chars(s), s.GetLength()); }

// Whether the heap block behind a string with a block of its own has its
// guard bytes intact.
inline bool BlockIntact(const ZkString& s) { return GuardIntact(Header(s)); }

class ZkStringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    start_ = CurrentAllocCounts();
    damagedAtStart_ = DamagedBlocks();
  }

  void TearDown() override {
    AllocCounts now = CurrentAllocCounts();
    EXPECT_EQ(now.news - start_.news, now.deletes - start_.deletes)
        << "every block allocated during the test is freed by its end";
    EXPECT_EQ(DamagedBlocks(), damagedAtStart_) << "no block was written past its end";
    const ZkStringData* empty = Header(ZkGetEmptyString());
    EXPECT_EQ(empty->refCount, -2);
    EXPECT_EQ(empty->dataLength, 0);
    EXPECT_EQ(empty->allocLength, 0);
    EXPECT_EQ(EmptyChars()[0], '\0');
  }

 private:
  AllocCounts start_;
  long damagedAtStart_ = 0;
};

}  // namespace zk_test
