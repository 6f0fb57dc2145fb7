// FindPeResources over PE files built in memory: what it finds, and that
// every broken offset is refused instead of followed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pe/pe_resources.h"
#include "tests/pe/pe_image_builder.h"

namespace kv {
namespace {

using test::BuildPeImage;
using test::FakeResource;
using test::PeImage;

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

const std::vector<FakeResource> kResources = {
    {"KVARC", "BASE", 1031, Bytes("base archive")},
    {"KVARC", "SETUPBASE", 1031, Bytes("setupbase")},
    {"KVARC", "SETUPBASE", 1033, Bytes("english one")},
    {"OTHER", "BASE", 1031, Bytes("not an archive")},
    {"#10", "#1", 0, Bytes("rcdata")},
};

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void Put32(std::vector<std::uint8_t>* b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(PeResources, FindsEveryResourceOfTheTypeWithNameLanguageAndBytes) {
  for (bool pe32Plus : {false, true}) {
    SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
    const PeImage image = BuildPeImage(kResources, pe32Plus);
    EXPECT_TRUE(LooksLikePeFile(image.bytes.data(), image.bytes.size()));
    std::vector<PeResource> found;
    std::string error;
    ASSERT_TRUE(FindPeResources(image.bytes.data(), image.bytes.size(), "KVArc", &found, &error))
        << error;
    ASSERT_EQ(found.size(), 3u);
    const char* names[] = {"BASE", "SETUPBASE", "SETUPBASE"};
    const std::uint16_t languages[] = {1031, 1031, 1033};
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(found[i].name, names[i]);
      EXPECT_EQ(found[i].language, languages[i]);
      EXPECT_EQ(found[i].fileOffset, image.dataOffsets[i]);
      EXPECT_EQ(std::vector<std::uint8_t>(found[i].data, found[i].data + found[i].size),
                kResources[i].data);
    }
    ASSERT_TRUE(FindPeResources(image.bytes.data(), image.bytes.size(), "#10", &found, &error));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "#1");
    ASSERT_TRUE(FindPeResources(image.bytes.data(), image.bytes.size(), "MISSING", &found, &error));
    EXPECT_TRUE(found.empty());
  }
}

TEST(PeResources, RefusesEveryOffsetThatLeadsOutside) {
  const PeImage good = BuildPeImage(kResources);
  struct Damage {
    const char* what;
    void (*apply)(const PeImage&, std::vector<std::uint8_t>*);
  };
  const Damage damages[] = {
      {"no MZ", [](const PeImage&, std::vector<std::uint8_t>* b) { (*b)[0] = 'X'; }},
      {"PE header offset past the end",
       [](const PeImage&, std::vector<std::uint8_t>* b) { Put32(b, 0x3C, 0xFFFFFFF0u); }},
      {"section table past the end",
       [](const PeImage&, std::vector<std::uint8_t>* b) { (*b)[0x40 + 6] = 0xFF; }},
      {"resource RVA in no section",
       [](const PeImage&, std::vector<std::uint8_t>* b) { Put32(b, 0x40 + 24 + 112, 0x9000); }},
      {"section raw bytes past the end of the file",
       [](const PeImage& i, std::vector<std::uint8_t>* b) { Put32(b, i.sectionHeader + 20, 0x7FFFFFF0u); }},
      {"resource tree starts past the end of the file",
       [](const PeImage& i, std::vector<std::uint8_t>* b) {
         Put32(b, 0x40 + 24 + 112, 0x1100);
         Put32(b, i.sectionHeader + 20, static_cast<std::uint32_t>(b->size() - 0x10));
       }},
      {"root directory entry count too large",
       [](const PeImage& i, std::vector<std::uint8_t>* b) { (*b)[i.tree + 14] = 0xFF; (*b)[i.tree + 15] = 0xFF; }},
      {"type name string outside",
       [](const PeImage& i, std::vector<std::uint8_t>* b) { Put32(b, i.tree + 16, 0xFFFFFFF0u); }},
      {"type subdirectory outside",
       [](const PeImage& i, std::vector<std::uint8_t>* b) { Put32(b, i.tree + 20, 0xFFFFFFF0u); }},
      {"data RVA outside every section",
       [](const PeImage& i, std::vector<std::uint8_t>* b) { Put32(b, i.dataEntries[0], 0x7FFFFFF0u); }},
      {"two names sharing one language directory (a tree that folds back)",
       [](const PeImage& i, std::vector<std::uint8_t>* b) {
         const std::size_t names = i.tree + (U32(*b, i.tree + 20) & 0x7FFFFFFFu);
         Put32(b, names + 16 + 8 + 4, U32(*b, names + 16 + 4));
       }},
      {"two languages sharing one data entry",
       [](const PeImage& i, std::vector<std::uint8_t>* b) {
         const std::size_t names = i.tree + (U32(*b, i.tree + 20) & 0x7FFFFFFFu);
         const std::size_t languages = i.tree + (U32(*b, names + 16 + 8 + 4) & 0x7FFFFFFFu);
         Put32(b, languages + 16 + 8 + 4, U32(*b, languages + 16 + 4));
       }},
      {"data size past the section's bytes",
       [](const PeImage& i, std::vector<std::uint8_t>* b) { Put32(b, i.dataEntries[1] + 4, 0xFFFFFFFFu); }},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<std::uint8_t> bytes = good.bytes;
    d.apply(good, &bytes);
    std::vector<PeResource> found;
    std::string error;
    EXPECT_FALSE(FindPeResources(bytes.data(), bytes.size(), "KVARC", &found, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(PeResources, EveryTruncationIsRefusedOrReadInBounds) {
  const PeImage good = BuildPeImage(kResources);
  for (std::size_t cut = 0; cut < good.bytes.size(); ++cut) {
    std::vector<std::uint8_t> prefix(good.bytes.begin(), good.bytes.begin() + cut);
    std::vector<PeResource> found;
    std::string error;
    // The raw section is padded; a cut inside the padding still finds all.
    if (FindPeResources(prefix.data(), prefix.size(), "KVARC", &found, &error)) {
      for (const PeResource& r : found) EXPECT_LE(r.fileOffset + r.size, cut) << cut;
    }
  }
}

// One long name read once is fine; the same string named from every entry
// would make the names of a small file take gigabytes.
TEST(PeResources, NamesReadCountAgainstTheTreesBytes) {
  std::vector<FakeResource> resources = {{"KVARC", std::string(3000, 'N'), 1031, Bytes("a")}};
  for (int i = 1; i <= 64; ++i) resources.push_back({"KVARC", "#" + std::to_string(i), 1031, {}});
  PeImage image = BuildPeImage(resources);
  std::vector<PeResource> found;
  std::string error;
  ASSERT_TRUE(FindPeResources(image.bytes.data(), image.bytes.size(), "KVARC", &found, &error))
      << error;
  EXPECT_EQ(found.size(), 65u);
  const std::size_t names = image.tree + (U32(image.bytes, image.tree + 20) & 0x7FFFFFFFu);
  const std::uint32_t longName = U32(image.bytes, names + 16);
  for (int i = 1; i <= 64; ++i) Put32(&image.bytes, names + 16 + 8 * i, longName);
  EXPECT_FALSE(FindPeResources(image.bytes.data(), image.bytes.size(), "KVARC", &found, &error));
  EXPECT_NE(error.find("names one string over and over"), std::string::npos) << error;
}

}  // namespace
}  // namespace kv
