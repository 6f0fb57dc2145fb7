// The write-combining writer: what reaches the target, in which pieces, at
// the edges of its block, and when the target fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/combining_writer.h"

namespace kv {
namespace {

class RecordingTarget : public ZKWrite {
 public:
  unsigned long stWrite(const void* buffer, unsigned long count) override {
    if (failAfter-- == 0) throw 42;
    writes.push_back(count);
    bytes.append(static_cast<const char*>(buffer), count);
    return count;
  }
  std::vector<unsigned long> writes;
  std::string bytes;
  int failAfter = -1;
};

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i * 131 + 7);
  return text;
}

// Feeds `total` bytes in pieces of `piece` and flushes.
RecordingTarget Feed(size_t total, size_t piece) {
  RecordingTarget target;
  CombiningWriter writer(&target);
  const std::string data = Pattern(total);
  for (size_t at = 0; at < total; at += piece) {
    const size_t n = std::min(piece, total - at);
    EXPECT_EQ(writer.stWrite(data.data() + at, static_cast<unsigned long>(n)), n);
  }
  writer.Flush();
  EXPECT_EQ(target.bytes, data) << total << " in pieces of " << piece;
  return target;
}

TEST(CombiningWriter, PassesEveryByteOnInOrderAtTheBlockEdges) {
  const size_t block = CombiningWriter::kBlockSize;
  const struct {
    size_t total;
    size_t piece;
    std::vector<unsigned long> writes;
  } cases[] = {
      {0, 100, {}},
      {1, 100, {1}},
      {250, 100, {250}},
      {block - 1, 100, {static_cast<unsigned long>(block - 1)}},
      {block, 100, {static_cast<unsigned long>(block)}},
      {block + 1, 100, {static_cast<unsigned long>(block), 1}},
      {3 * block + 5, 100, {static_cast<unsigned long>(block), static_cast<unsigned long>(block),
                            static_cast<unsigned long>(block), 5}},
      // A write of a block or more into an empty buffer goes straight on.
      {2 * block + 3, 2 * block + 3, {static_cast<unsigned long>(2 * block + 3)}},
  };
  for (const auto& c : cases) {
    RecordingTarget target = Feed(c.total, c.piece);
    EXPECT_EQ(target.writes, c.writes) << c.total << " in pieces of " << c.piece;
  }
}

TEST(CombiningWriter, AFailingTargetFailsTheWriteThatFilledTheBlock) {
  RecordingTarget target;
  target.failAfter = 0;
  CombiningWriter writer(&target);
  const std::string data = Pattern(CombiningWriter::kBlockSize);
  EXPECT_EQ(writer.stWrite(data.data(), 100), 100u);  // held, nothing written yet
  EXPECT_THROW(writer.stWrite(data.data(), CombiningWriter::kBlockSize - 100), int);
  // The failed block is not offered again.
  writer.Flush();
  EXPECT_TRUE(target.writes.empty());
}

TEST(CombiningWriter, FlushPassesTheRestAndAFailingFlushThrows) {
  RecordingTarget target;
  CombiningWriter writer(&target);
  writer.stWrite("abc", 3);
  EXPECT_TRUE(target.writes.empty());
  target.failAfter = 0;
  EXPECT_THROW(writer.Flush(), int);
}

}  // namespace
}  // namespace kv
