// The image rewriter over the launcher stub, in memory: a resource section
// streamed into a MemorySink with its directory written over its room last,
// as kvpack setup writes it, read back by the product's own readers.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "bytes/byte_sink.h"
#include "pe/image_rewriter.h"
#include "pe/pe_checksum.h"
#include "pe/pe_resources.h"
#include "pe/resource_section.h"

namespace kv {
namespace {

std::vector<std::uint8_t> Stub() {
  std::ifstream in(KVPACK_STUB, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ImageRewriter, GivesTheStubANewResourceSectionWithAChecksumThatHoldsAfterWriteAt) {
  const std::vector<std::uint8_t> stub = Stub();
  ASSERT_FALSE(stub.empty()) << KVPACK_STUB << " is built in the Windows tree";
  StubLayout layout;
  std::string error;
  ASSERT_TRUE(InspectStub(stub, &layout, &error)) << error;
  std::vector<std::uint8_t> archive;
  ASSERT_TRUE(BuildArchive({{"StageRun.exe", {'M', 'Z', 0, 1}, {1, 2, 3}}}, &archive, &error));
  const std::vector<ResourceItem> items = {{kArchiveResourceTypeStored, "BASE", kArchiveLanguage,
                                            archive.data(),
                                            static_cast<std::uint32_t>(archive.size())}};
  ResourcePlan plan;
  ASSERT_TRUE(plan.Plan(items, &error)) << error;

  SetupImageWriter writer;
  MemorySink out;
  ASSERT_TRUE(writer.Prepare(stub, layout, &error)) << error;
  ASSERT_TRUE(writer.Begin(&out, &error)) << error;
  // Room for the directory (nonzero, so that WriteAt must take its words
  // out of the sum again), then the one resource at DataStart.
  const std::vector<std::uint8_t> room(plan.DataStart(), 0xA5);
  ASSERT_TRUE(writer.Append(room.data(), room.size(), &error));
  ASSERT_TRUE(writer.Append(archive.data(), archive.size(), &error));
  EXPECT_EQ(writer.Size(), plan.DataStart() + archive.size());
  const std::vector<std::uint8_t> directory =
      plan.Directory(layout.resourceRva, {plan.DataStart()},
                     {static_cast<std::uint32_t>(archive.size())});
  ASSERT_TRUE(writer.WriteAt(0, directory.data(), directory.size(), &error)) << error;
  EXPECT_FALSE(writer.WriteAt(writer.Size() - 1, directory.data(), 2, &error));
  ASSERT_TRUE(writer.Finish(1234567890, &error)) << error;

  const std::vector<std::uint8_t>& built = out.bytes();
  PeLayout pe;
  ASSERT_TRUE(CheckPeLayout(built.data(), built.size(), &pe, &error)) << error;
  EXPECT_EQ(pe.checkSum, PeChecksum(built, pe.Field(pe::kCheckSum)));
  EXPECT_EQ(pe::U32(&built[pe.pe + pe::kTimeDateStamp]), 1234567890u);
  EXPECT_EQ(pe.directoryRva[pe::kCertificateDirectory], 0u);
  EXPECT_EQ(built.size() % pe.fileAlignment, 0u);
  std::vector<PeResource> found;
  ASSERT_TRUE(FindPeResources(built.data(), built.size(), "", &found, &error)) << error;
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "BASE");
  EXPECT_EQ(std::vector<std::uint8_t>(found[0].data, found[0].data + found[0].size), archive);
  // The stub's code and headers before the resource section are its own.
  const PeSection& rsrc = layout.headers.sections[static_cast<std::size_t>(layout.resource)];
  const std::size_t code = layout.headers.sections[0].rawOffset;
  EXPECT_TRUE(std::equal(stub.begin() + code, stub.begin() + rsrc.rawOffset, built.begin() + code));
}

}  // namespace
}  // namespace kv
