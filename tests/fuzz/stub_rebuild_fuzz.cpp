// Feeds arbitrary bytes to kvpack as its launcher stub: InspectStub must
// refuse them or accept a file that the rebuild turns, without reading or
// writing outside a buffer, into a setup that reads back (CheckBuiltSetup),
// with the stub's resources and an archive added. Everything is written
// and read back in memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "bytes/byte_sink.h"
#include "pe/image_rewriter.h"
#include "pe/pe_resources.h"
#include "pe/resource_section.h"
#include "tools/kvpack/setup/setup_check.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "stub_rebuild_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

const std::vector<std::uint8_t>& SmallArchive() {
  static const std::vector<std::uint8_t> image = [] {
    std::vector<std::uint8_t> out;
    std::string error;
    const std::vector<kv::PackEntry> entries = {{"StageRun.exe", {'M', 'Z', 1, 2, 3}, {1, 2, 3}}};
    if (!kv::BuildArchive(entries, &out, &error)) Fail("archive", error);
    return out;
  }();
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> stub(data, data + size);
  kv::StubLayout layout;
  std::string error;
  if (!kv::InspectStub(stub, &layout, &error)) {
    if (error.empty()) Fail("refusal without text", "");
    return 0;
  }
  std::vector<kv::PeResource> resources;
  if (!kv::FindPeResources(stub.data(), stub.size(), "", &resources, &error)) return 0;
  std::vector<kv::ResourceItem> items;
  for (const kv::PeResource& r : resources) {
    if (kv::SameAsciiName(r.type, kv::kArchiveResourceType)) continue;
    items.push_back(kv::ResourceItem{r.type, r.name, r.language, r.data, r.size});
  }
  const std::vector<std::uint8_t>& archive = SmallArchive();
  items.push_back(kv::ResourceItem{kv::kArchiveResourceTypeStored, "BASE", kv::kArchiveLanguage,
                                   archive.data(), static_cast<std::uint32_t>(archive.size())});
  // The section as kvpack setup lays it out: the directory, then each
  // resource's data on an 8-byte boundary in the plan's order.
  kv::ResourcePlan plan;
  // Two stub resources that only differ in case are refused here.
  if (!plan.Plan(items, &error)) return 0;
  std::vector<std::uint32_t> offsets(items.size()), sizes(items.size());
  std::vector<std::uint8_t> section(plan.DataStart(), 0);
  for (std::size_t i : plan.DataOrder()) {
    section.resize((section.size() + 7) & ~std::size_t{7}, 0);
    offsets[i] = static_cast<std::uint32_t>(section.size());
    sizes[i] = items[i].size;
    section.insert(section.end(), items[i].data, items[i].data + items[i].size);
  }
  section.resize((section.size() + 7) & ~std::size_t{7}, 0);
  const std::vector<std::uint8_t> directory = plan.Directory(layout.resourceRva, offsets, sizes);
  if (directory.size() > plan.DataStart()) Fail("directory larger than its room", "");

  // The directory goes over its room last, as kvpack setup writes it.
  kv::SetupImageWriter writer;
  kv::MemorySink out;
  if (!writer.Prepare(stub, layout, &error)) return 0;
  if (!writer.Begin(&out, &error) || !writer.Append(section.data(), section.size(), &error) ||
      !writer.WriteAt(0, directory.data(), directory.size(), &error)) {
    Fail("the rebuild could not be written", error);
  }
  if (!writer.Finish(0, &error)) return 0;  // an image beyond the 32-bit bound
  const std::vector<std::uint8_t>& built = out.bytes();
  const std::vector<kv::BuiltArchive> expected = {{"BASE", archive.size(), 1}};
  if (!kv::CheckBuiltSetup(built.data(), built.size(), expected, true, &error)) {
    Fail("an accepted stub rebuilt into a setup that does not read back", error);
  }
  return 0;
}
