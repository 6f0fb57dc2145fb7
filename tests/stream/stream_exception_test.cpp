#include "stream/stream_exception.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/stream/heap_probe.h"

TEST(ZkStreamException, CodeAloneHasNoText) {
  ZkStreamException e(ZK_ERR_READ);
  EXPECT_EQ(e.GetCode(), 1);
  EXPECT_EQ(e.GetText(), nullptr);
  ZkStreamException null_text(ZK_ERR_WRITE, nullptr);
  EXPECT_EQ(null_text.GetText(), nullptr);
}

TEST(ZkStreamException, OwnsItsTextAndCopiesKeepTheirOwn) {
  std::string path = "C:\\work\\file.bin";
  auto first = std::make_unique<ZkStreamException>(ZK_ERR_OPEN, path.c_str());
  path[0] = 'X';  // the exception does not point into the caller's text
  ZkStreamException copy(*first);
  ZkStreamException assigned(ZK_ERR_CLOSE, "old text");
  assigned = *first;
  EXPECT_NE(copy.GetText(), first->GetText());
  EXPECT_NE(assigned.GetText(), first->GetText());
  first.reset();
  EXPECT_EQ(copy.GetCode(), 7);
  EXPECT_STREQ(copy.GetText(), "C:\\work\\file.bin");
  EXPECT_EQ(assigned.GetCode(), 7);
  EXPECT_STREQ(assigned.GetText(), "C:\\work\\file.bin");
  assigned = assigned;
  EXPECT_STREQ(assigned.GetText(), "C:\\work\\file.bin");
  ZkStreamException cleared(ZK_ERR_SEEK);
  assigned = cleared;
  EXPECT_EQ(assigned.GetText(), nullptr);
}

TEST(ZkStreamException, RaisesInPointerAndValueForm) {
  try {
    ZkStreamException::RaiseOnHeap(ZK_ERR_OPEN, "a.txt");
    FAIL() << "no exception";
  } catch (ZkStreamException* e) {
    std::unique_ptr<ZkStreamException> owned(e);
    EXPECT_EQ(owned->GetCode(), 7);
    EXPECT_STREQ(owned->GetText(), "a.txt");
  }
  try {
    ZkStreamException::Raise(ZK_ERR_ZLIB_STATE, ZK_ZLIB_ERROR_TEXT);
    FAIL() << "no exception";
  } catch (const ZkStreamException& e) {
    EXPECT_EQ(e.GetCode(), -11);
    EXPECT_STREQ(e.GetText(), "Zlib-Fehler");
  }
}

TEST(ZkStreamException, CopiesAndRaisesGiveBackTheirText) {
  if (!heap_probe::Available()) GTEST_SKIP() << "no heap statistics here";
  const std::size_t before = heap_probe::InUse();
  for (int i = 0; i < 100; ++i) {
    ZkStreamException a(ZK_ERR_OPEN, "some path of moderate length");
    ZkStreamException b(a);
    b = a;
    try {
      ZkStreamException::RaiseOnHeap(ZK_ERR_OPEN, "another path");
    } catch (ZkStreamException* e) {
      delete e;
    }
  }
  EXPECT_EQ(heap_probe::InUse(), before);
}
