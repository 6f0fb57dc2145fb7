// The resource section writer: a section's resource tree laid out from the
// resources it is to hold (pe_format.h has the tree's layout), so that the
// data can be streamed behind it and the tree written over its room once
// every offset and size is known.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kv {

// One resource of the new section. type and name: a string ("KVARC"; stored
// in upper case, as resource compilers do) or "#<id>".
struct ResourceItem {
  std::string type;
  std::string name;
  std::uint16_t language = 0;
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
};

// Where each resource of a new section goes, fixed by the items' types,
// names and languages alone (their data and sizes do not matter yet): the
// three directory levels (string names before ids, strings in ascending
// order of their UTF-16 code units, ids ascending, as the system's binary
// search needs), the data entries and the names, then each resource's bytes
// on an 8-byte boundary, in directory order. All directory time stamps are
// 0.
class ResourcePlan {
 public:
  // False with *error for two items with the same type, name and language.
  bool Plan(const std::vector<ResourceItem>& items, std::string* error);
  // Item indices in the order their data follow the directory.
  const std::vector<std::size_t>& DataOrder() const { return order_; }
  // Where the first resource's data may start: the directory's size,
  // rounded up to 8.
  std::uint32_t DataStart() const { return dataStart_; }
  // The section's first DataStart() bytes for a section at sectionRva whose
  // item i lies at offsets[i] (from the section's start) with sizes[i]
  // bytes.
  std::vector<std::uint8_t> Directory(std::uint32_t sectionRva,
                                      const std::vector<std::uint32_t>& offsets,
                                      const std::vector<std::uint32_t>& sizes) const;

 private:
  struct KeyLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  // type -> name -> language -> item index
  std::map<std::string, std::map<std::string, std::map<std::uint16_t, std::size_t>, KeyLess>,
           KeyLess>
      tree_;
  std::vector<std::size_t> order_;
  std::size_t leafStart_ = 0;
  std::size_t nameStart_ = 0;
  std::uint32_t dataStart_ = 0;
};

}  // namespace kv
