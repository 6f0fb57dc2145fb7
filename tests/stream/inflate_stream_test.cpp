#include "stream/inflate_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "stream/mem_read_stream.h"
#include "stream/stream_exception.h"
#include "tests/stream/heap_probe.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Deterministic data that deflate codes with Huffman blocks and matches.
Bytes Sample(unsigned long size, unsigned seed = 1) {
  Bytes data(size);
  unsigned state = seed;
  for (unsigned long i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    data[i] = (i % 37 < 20) ? static_cast<unsigned char>('a' + i % 11)
                            : static_cast<unsigned char>(state >> 24);
  }
  return data;
}

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, data.data(),
                      static_cast<uLong>(data.size()), 6),
            Z_OK);
  out.resize(size);
  return out;
}

// The write sizes a correct copier makes for `total` bytes.
std::vector<unsigned long> Chunks(unsigned long total) {
  std::vector<unsigned long> sizes;
  for (; total >= 100; total -= 100) sizes.push_back(100);
  if (total) sizes.push_back(total);
  return sizes;
}

// A target that records every write; optionally raises on one of them the
// way a failing file stream does.
class RecordingWriter : public ZKWrite {
 public:
  explicit RecordingWriter(int fail_on_write = -1) : fail_on_(fail_on_write) {}
  unsigned long stWrite(const void* buffer, unsigned long count) override {
    if (static_cast<int>(sizes.size()) == fail_on_) {
      ZkStreamException::RaiseOnHeap(ZK_ERR_WRITE);
    }
    sizes.push_back(count);
    const unsigned char* p = static_cast<const unsigned char*>(buffer);
    bytes.insert(bytes.end(), p, p + count);
    return count;
  }
  std::vector<unsigned long> sizes;
  Bytes bytes;

 private:
  int fail_on_;
};

// A source that gives at most `step` bytes a call and records what it was
// asked for; step 0 gives nothing at all.
class StepSource : public ZKRead {
 public:
  StepSource(const Bytes& data, unsigned long step)
      : data_(data), step_(step) {}
  unsigned long stRead(void* buffer, unsigned long count) override {
    requests.push_back(count);
    unsigned long n = std::min<unsigned long>(
        {count, step_, static_cast<unsigned long>(data_.size() - offset_)});
    std::copy(data_.begin() + offset_, data_.begin() + offset_ + n,
              static_cast<unsigned char*>(buffer));
    offset_ += n;
    return n;
  }
  std::vector<unsigned long> requests;

 private:
  Bytes data_;
  unsigned long step_;
  std::size_t offset_ = 0;
};

class ThrowingSource : public ZKRead {
 public:
  unsigned long stRead(void*, unsigned long) override { throw 42; }
};

void ExpectWrongState(void (*call)(ZKInflate&), ZKInflate& engine) {
  try {
    call(engine);
    ADD_FAILURE() << "no exception";
  } catch (const ZkStreamException& e) {
    EXPECT_EQ(e.GetCode(), -11);
    EXPECT_STREQ(e.GetText(), "Zlib-Fehler");
  }
}

}  // namespace

TEST(ZKInflateCopy, WritesWholeStreamsInChunksOfAtMost100) {
  // Output sizes at the chunk edges, input fed whole or in small steps.
  const unsigned long sizes[] = {0, 1, 99, 100, 101, 250, 1000};
  const unsigned long steps[] = {1, 7, 113, 1000};
  for (unsigned long size : sizes) {
    const Bytes data = Sample(size, static_cast<unsigned>(size) + 3);
    const Bytes packed = Deflate(data);
    for (unsigned long step : steps) {
      SCOPED_TRACE(::testing::Message() << size << " bytes, source step "
                                        << step);
      ZKInflateCopy copier;
      StepSource source(packed, step);
      RecordingWriter target;
      EXPECT_EQ(copier.stTransfer(&target, &source, 0), size);
      EXPECT_EQ(target.sizes, Chunks(size));
      EXPECT_TRUE(target.bytes == data);
      EXPECT_EQ(copier.GetState(), ZKInflate::Idle);
      EXPECT_TRUE(copier.ReachedStreamEnd());
      EXPECT_EQ(copier.TotalOut(), size);
      // The source is always asked for a whole input buffer.
      for (unsigned long request : source.requests) EXPECT_EQ(request, 113u);
    }
  }
}

TEST(ZKInflateCopy, CountLimitsTheTransfer) {
  const Bytes data = Sample(250);
  const Bytes packed = Deflate(data);
  struct Case {
    unsigned long count;
    std::vector<unsigned long> writes;
    bool reached_end;
  } cases[] = {
      {120, {100, 20}, false},
      {1, {1}, false},
      {100, {100}, false},
      {0, {100, 100, 50}, true},
      {1000, {100, 100, 50}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "count " << c.count);
    ZKInflateCopy copier;
    ZKMemRead source(packed.data(), static_cast<unsigned long>(packed.size()));
    RecordingWriter target;
    unsigned long total = 0;
    for (unsigned long n : c.writes) total += n;
    EXPECT_EQ(copier.stTransfer(&target, &source, c.count), total);
    EXPECT_EQ(target.sizes, c.writes);
    EXPECT_TRUE(std::equal(target.bytes.begin(), target.bytes.end(),
                           data.begin()));
    EXPECT_EQ(copier.GetState(), ZKInflate::Idle);
    EXPECT_EQ(copier.ReachedStreamEnd(), c.reached_end);
    EXPECT_EQ(copier.TotalOut(), total);
  }
}

TEST(ZKInflateCopy, EmptyStreamAndEmptySourceWriteNothing) {
  const Bytes empty_stream = Deflate(Bytes());
  ZKInflateCopy copier;
  {
    StepSource source(empty_stream, 113);
    RecordingWriter target;
    EXPECT_EQ(copier.stTransfer(&target, &source, 0), 0u);
    EXPECT_TRUE(target.sizes.empty());
    EXPECT_TRUE(copier.ReachedStreamEnd());
  }
  {
    StepSource source(Bytes(), 113);  // yields 0 at once
    RecordingWriter target;
    EXPECT_EQ(copier.stTransfer(&target, &source, 0), 0u);
    EXPECT_TRUE(target.sizes.empty());
    EXPECT_FALSE(copier.ReachedStreamEnd());
    EXPECT_EQ(copier.GetState(), ZKInflate::Idle);
  }
}

TEST(ZKInflateCopy, DamagedDataEndsQuietlyButIsNotReportedComplete) {
  const Bytes data = Sample(250);
  const Bytes good = Deflate(data);

  // A stored block of 300 bytes followed by a block of the reserved type:
  // zlib rejects the stream after producing the 300 bytes.
  Bytes stored = {0x78, 0x01, 0x00, 0x2C, 0x01, 0xD3, 0xFE};
  const Bytes payload = Sample(300, 9);
  stored.insert(stored.end(), payload.begin(), payload.end());
  stored.push_back(0x07);

  Bytes bad_check = good;
  bad_check.back() ^= 0x01;
  Bytes no_check(good.begin(), good.end() - 4);
  Bytes half(good.begin(), good.begin() + good.size() / 2);
  Bytes bad_header = good;
  bad_header[1] ^= 0x01;

  struct Case {
    const char* what;
    const Bytes& packed;
    std::vector<unsigned long> writes;  // empty: only a prefix is checked
    const Bytes& expected;
  } cases[] = {
      {"data error after a stored block", stored, {100, 100, 100}, payload},
      {"wrong Adler-32", bad_check, {100, 100, 50}, data},
      {"checksum cut off", no_check, {100, 100, 50}, data},
      {"cut in the middle", half, {}, data},
      {"bad header", bad_header, {}, data},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZKInflateCopy copier;
    ZKMemRead source(c.packed.data(),
                     static_cast<unsigned long>(c.packed.size()));
    RecordingWriter target;
    unsigned long total = 0;
    EXPECT_NO_THROW(total = copier.stTransfer(&target, &source, 0));
    EXPECT_EQ(total, target.bytes.size());
    if (!c.writes.empty()) {
      EXPECT_EQ(target.sizes, c.writes);
    }
    ASSERT_LE(target.bytes.size(), c.expected.size());
    EXPECT_TRUE(std::equal(target.bytes.begin(), target.bytes.end(),
                           c.expected.begin()));
    EXPECT_FALSE(copier.ReachedStreamEnd());
    EXPECT_EQ(copier.TotalOut(), total);
    EXPECT_EQ(copier.GetState(), ZKInflate::Idle);
  }
}

TEST(ZKInflateCopy, NoSingleDamagedByteReadsAsComplete) {
  const Bytes data = Sample(400, 5);
  const Bytes good = Deflate(data);
  ZKInflateCopy copier;  // one object for every run: transfers in a row
  for (std::size_t i = 0; i < good.size(); ++i) {
    Bytes damaged = good;
    damaged[i] ^= 0xFF;
    ZKMemRead source(damaged.data(), static_cast<unsigned long>(damaged.size()));
    RecordingWriter target;
    unsigned long total = 0;
    EXPECT_NO_THROW(total = copier.stTransfer(&target, &source, 0)) << i;
    EXPECT_FALSE(copier.ReachedStreamEnd()) << "byte " << i;
    EXPECT_EQ(copier.TotalOut(), total) << i;
    for (unsigned long n : target.sizes) EXPECT_LE(n, 100u) << i;
  }
}

TEST(ZKInflateCopy, RunsTransfersInARow) {
  const Bytes first = Sample(250, 1);
  const Bytes second = Sample(1000, 2);
  const Bytes packed_first = Deflate(first);
  const Bytes packed_second = Deflate(second);
  ZKInflateCopy copier;
  ZKTransfer* pump = &copier;

  RecordingWriter a;
  ZKMemRead source_a(packed_first.data(),
                     static_cast<unsigned long>(packed_first.size()));
  EXPECT_EQ(pump->stTransfer(&a, &source_a, 120), 120u);  // stops early

  RecordingWriter b;
  ZKMemRead source_b(packed_second.data(),
                     static_cast<unsigned long>(packed_second.size()));
  EXPECT_EQ(pump->stTransfer(&b, &source_b, 0), 1000u);
  EXPECT_TRUE(b.bytes == second);

  RecordingWriter c;
  ZKMemRead source_c(packed_first.data(),
                     static_cast<unsigned long>(packed_first.size()));
  EXPECT_EQ(pump->stTransfer(&c, &source_c, 0), 250u);
  EXPECT_TRUE(c.bytes == first);
  EXPECT_TRUE(copier.ReachedStreamEnd());
}

TEST(ZKInflateCopy, ReservedOperationReturnsZero) {
  ZKInflateCopy copier;
  ZKTransfer* pump = &copier;
  EXPECT_EQ(pump->stReserved(1, 2, 3), 0u);
  EXPECT_EQ(copier.GetState(), ZKInflate::Idle);
}

TEST(ZKInflateCopy, ExceptionsFromTargetAndSourcePassThrough) {
  const Bytes packed = Deflate(Sample(250));
  {
    ZKInflateCopy copier;
    ZKMemRead source(packed.data(), static_cast<unsigned long>(packed.size()));
    RecordingWriter target(/*fail_on_write=*/1);
    try {
      copier.stTransfer(&target, &source, 0);
      ADD_FAILURE() << "no exception";
    } catch (ZkStreamException* e) {
      EXPECT_EQ(e->GetCode(), ZK_ERR_WRITE);
      delete e;
    }
    EXPECT_EQ(target.sizes, std::vector<unsigned long>{100});
    // The interrupted transfer leaves the object unusable.
    EXPECT_EQ(copier.GetState(), ZKInflate::Inflating);
    RecordingWriter next;
    ZKMemRead again(packed.data(), static_cast<unsigned long>(packed.size()));
    try {
      copier.stTransfer(&next, &again, 0);
      ADD_FAILURE() << "no exception";
    } catch (const ZkStreamException& e) {
      EXPECT_EQ(e.GetCode(), -11);
      EXPECT_STREQ(e.GetText(), "Zlib-Fehler");
    }
    EXPECT_TRUE(next.sizes.empty());
  }
  {
    ZKInflateCopy copier;
    ThrowingSource source;
    RecordingWriter target;
    EXPECT_THROW(copier.stTransfer(&target, &source, 0), int);
    EXPECT_EQ(copier.GetState(), ZKInflate::Inflating);
  }
}

TEST(ZKInflateCopy, DestroyingAnInterruptedCopierReleasesZlibState) {
  if (!heap_probe::Available()) GTEST_SKIP() << "no heap statistics here";
  const Bytes packed = Deflate(Sample(250));
  RecordingWriter target(/*fail_on_write=*/0);
  ZKMemRead source(packed.data(), static_cast<unsigned long>(packed.size()));
  bool raised = false;
  const std::size_t before = heap_probe::InUse();
  {
    ZKInflateCopy copier;
    try {
      copier.stTransfer(&target, &source, 0);
    } catch (ZkStreamException* e) {
      raised = true;
      delete e;
    }
  }
  const std::size_t after = heap_probe::InUse();
  EXPECT_TRUE(raised);
  EXPECT_EQ(after, before);
}

TEST(ZKInflate, StateErrorsAndEndedReads) {
  ZKInflate engine(113);
  EXPECT_EQ(engine.GetState(), ZKInflate::Idle);
  ExpectWrongState([](ZKInflate& e) { e.EndInflate(nullptr); }, engine);
  ExpectWrongState(
      [](ZKInflate& e) {
        char buffer[4];
        e.ReadInflated(buffer, 4, nullptr);
      },
      engine);

  engine.StartInflate();
  EXPECT_EQ(engine.GetState(), ZKInflate::Inflating);
  ExpectWrongState([](ZKInflate& e) { e.StartInflate(); }, engine);

  const Bytes data = Sample(50);
  const Bytes packed = Deflate(data);
  StepSource source(packed, 113);
  unsigned char buffer[200];
  EXPECT_EQ(engine.ReadInflated(buffer, 200, &source), 50u);
  EXPECT_EQ(engine.GetState(), ZKInflate::Ended);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer));
  const std::size_t reads = source.requests.size();
  EXPECT_EQ(engine.ReadInflated(buffer, 200, &source), 0u);
  EXPECT_EQ(source.requests.size(), reads);  // Ended reads nothing more
  ExpectWrongState([](ZKInflate& e) { e.StartInflate(); }, engine);

  engine.EndInflate(nullptr);
  EXPECT_EQ(engine.GetState(), ZKInflate::Idle);
  EXPECT_TRUE(engine.ReachedStreamEnd());  // still readable after the end
  EXPECT_EQ(engine.TotalOut(), 50u);
  engine.StartInflate();
  EXPECT_FALSE(engine.ReachedStreamEnd());
  EXPECT_EQ(engine.TotalOut(), 0u);
  engine.EndInflate(nullptr);
}

TEST(ZKInflate, UnobtainableInputBufferRaisesMinus10) {
  try {
    ZKInflate engine(~0ul);
    ADD_FAILURE() << "no exception";
  } catch (const ZkStreamException& e) {
    EXPECT_EQ(e.GetCode(), -10);
    EXPECT_STREQ(e.GetText(), "Zlib-Fehler");
  }
}
