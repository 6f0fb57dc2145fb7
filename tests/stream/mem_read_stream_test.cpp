#include "stream/mem_read_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char kBlock[] = "01234567";  // 8 bytes read, the NUL never

std::string Read(ZKRead& reader, unsigned long count, unsigned long* got) {
  char buffer[32];
  std::memset(buffer, '#', sizeof(buffer));
  *got = reader.stRead(buffer, count);
  return std::string(buffer, buffer + *got);
}

}  // namespace

TEST(ZKMemRead, ReadsUpToTheEndThenNothing) {
  struct Case {
    unsigned long length;
    unsigned long first_count;
    unsigned long first_result;
  } cases[] = {
      {4, 10, 4},  // asked for more than there is
      {8, 8, 8},   // exactly the rest
      {8, 3, 3},   // less than the rest
      {0, 5, 0},   // empty block
      {8, 0, 0},   // count 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "length " << c.length << ", count "
                                      << c.first_count);
    ZKMemRead reader(kBlock, c.length);
    unsigned long got;
    EXPECT_EQ(Read(reader, c.first_count, &got),
              std::string(kBlock, c.first_result));
    EXPECT_EQ(got, c.first_result);
    // What is left comes next, and after that only 0.
    const unsigned long left = c.length - c.first_result;
    EXPECT_EQ(Read(reader, 32, &got),
              std::string(kBlock + c.first_result, left));
    EXPECT_EQ(reader.stRead(nullptr, 0), 0u);
    char byte;
    EXPECT_EQ(reader.stRead(&byte, 1), 0u);
    EXPECT_EQ(reader.stRead(&byte, 1), 0u);
  }
}

TEST(ZKMemRead, CountZeroLeavesTheReaderUnchanged) {
  ZKMemRead reader(kBlock, 8);
  char untouched = '#';
  EXPECT_EQ(reader.stRead(&untouched, 0), 0u);
  EXPECT_EQ(untouched, '#');
  unsigned long got;
  EXPECT_EQ(Read(reader, 8, &got), "01234567");
}

TEST(ZKMemRead, CopiesAdvanceIndependently) {
  ZKMemRead first(kBlock, 8);
  unsigned long got;
  ASSERT_EQ(Read(first, 3, &got), "012");

  ZKMemRead copy(first);
  EXPECT_EQ(Read(copy, 32, &got), "34567");
  EXPECT_EQ(Read(first, 2, &got), "34");  // the copy did not move it

  ZKMemRead assigned(kBlock + 7, 1);
  ZKMemRead& result = (assigned = first);
  EXPECT_EQ(&result, &assigned);
  EXPECT_EQ(Read(assigned, 32, &got), "567");
  EXPECT_EQ(Read(first, 32, &got), "567");
}
