// Builds the bytes of a small PE file whose only section, ".rsrc", holds a
// resource tree, so tests can read resources without a linker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

struct FakeResource {
  std::string type;  // a string name, or "#<id>" for a numeric one
  std::string name;  // likewise
  std::uint16_t language = 0;
  std::vector<std::uint8_t> data;
};

struct PeImage {
  std::vector<std::uint8_t> bytes;
  std::size_t sectionHeader = 0;  // file offset of the .rsrc section header
  std::size_t tree = 0;           // file offset of the resource tree (root directory)
  std::vector<std::size_t> dataEntries;  // file offset of each data entry, in input order
  std::vector<std::size_t> dataOffsets;  // file offset of each resource's bytes
};

// Resources must come grouped by type and, within a type, by name, in the
// order the directory is to list them (string names before numeric ones, as
// Windows requires). pe32Plus selects the 64-bit optional header.
PeImage BuildPeImage(const std::vector<FakeResource>& resources, bool pe32Plus = false);

}  // namespace kv::test
