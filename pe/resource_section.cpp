#include "pe/resource_section.h"

#include <cstdlib>

#include "archive/archive_format.h"
#include "pe/pe_format.h"

namespace kv {

namespace {

using pe::Put16;
using pe::Put32;
constexpr std::uint32_t kHighBit = pe::kTreeHighBit;

std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

bool IsId(const std::string& key) { return !key.empty() && key[0] == '#'; }
std::uint16_t IdOf(const std::string& key) {
  return static_cast<std::uint16_t>(std::strtoul(key.c_str() + 1, nullptr, 10));
}

// Directory order: string names first, by their (upper-case ASCII) code
// units; then ids, ascending.
bool KeyBefore(const std::string& a, const std::string& b) {
  if (IsId(a) != IsId(b)) return !IsId(a);
  if (IsId(a)) return IdOf(a) < IdOf(b);
  return a < b;
}

std::size_t NameBytes(const std::string& key) { return IsId(key) ? 0 : 2 + 2 * key.size(); }

std::string UpperKey(const std::string& key) {
  if (IsId(key)) return "#" + std::to_string(IdOf(key));
  std::string out = key;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

bool ResourcePlan::KeyLess::operator()(const std::string& a, const std::string& b) const {
  return KeyBefore(a, b);
}

bool ResourcePlan::Plan(const std::vector<ResourceItem>& items, std::string* error) {
  tree_.clear();
  order_.clear();
  for (std::size_t i = 0; i < items.size(); ++i) {
    auto& languages = tree_[UpperKey(items[i].type)][UpperKey(items[i].name)];
    if (!languages.emplace(items[i].language, i).second) {
      *error = "two resources " + PrintableText(items[i].type) + " " +
               PrintableText(items[i].name) + " of language " +
               std::to_string(items[i].language);
      return false;
    }
  }
  auto dirBytes = [](std::size_t entries) {
    return pe::kTreeDirectorySize + pe::kTreeEntrySize * entries;
  };
  // Sizes: every directory, then data entries, then names, then data.
  std::size_t directories = dirBytes(tree_.size());
  std::size_t leaves = 0;
  std::size_t names = 0;
  for (auto& [type, byName] : tree_) {
    directories += dirBytes(byName.size());
    names += NameBytes(type);
    for (auto& [name, byLanguage] : byName) {
      directories += dirBytes(byLanguage.size());
      names += NameBytes(name);
      leaves += byLanguage.size();
      for (auto& [language, index] : byLanguage) order_.push_back(index);
    }
  }
  leafStart_ = directories;
  nameStart_ = leafStart_ + pe::kTreeDataEntrySize * leaves;
  dataStart_ = static_cast<std::uint32_t>(AlignUp(nameStart_ + names, 8));
  return true;
}

std::vector<std::uint8_t> ResourcePlan::Directory(std::uint32_t sectionRva,
                                                  const std::vector<std::uint32_t>& offsets,
                                                  const std::vector<std::uint32_t>& sizes) const {
  std::vector<std::uint8_t> bytes(dataStart_, 0);
  std::uint8_t* out = bytes.data();
  auto dirBytes = [](std::size_t entries) {
    return pe::kTreeDirectorySize + pe::kTreeEntrySize * entries;
  };
  std::size_t nextDir = 0;
  std::size_t nextLeaf = leafStart_;
  std::size_t nextName = nameStart_;
  auto writeName = [&](const std::string& key) -> std::uint32_t {
    if (IsId(key)) return IdOf(key);
    const std::size_t at = nextName;
    Put16(out + at, static_cast<std::uint32_t>(key.size()));
    for (std::size_t i = 0; i < key.size(); ++i) {
      Put16(out + at + 2 + 2 * i, static_cast<std::uint8_t>(key[i]));
    }
    nextName += NameBytes(key);
    return kHighBit | static_cast<std::uint32_t>(at);
  };
  // A directory's header; its entries follow it. Returns its offset.
  auto openDir = [&](std::size_t named, std::size_t ids) {
    const std::size_t at = nextDir;
    Put16(out + at + pe::kTreeNamedCount, static_cast<std::uint32_t>(named));
    Put16(out + at + pe::kTreeIdCount, static_cast<std::uint32_t>(ids));
    nextDir += dirBytes(named + ids);
    return at;
  };
  auto countNamed = [](const auto& map) {
    std::size_t n = 0;
    for (const auto& kv : map) n += IsId(kv.first) ? 0 : 1;
    return n;
  };

  // Writes the index-th entry of the directory at dir: its name word, then
  // its offset word.
  auto putEntry = [&](std::size_t dir, std::size_t index, std::uint32_t nameWord,
                      std::uint32_t offsetWord) {
    std::uint8_t* entry = out + dir + pe::kTreeDirectorySize + pe::kTreeEntrySize * index;
    Put32(entry, nameWord);
    Put32(entry + pe::kTreeEntryOffset, offsetWord);
  };
  const std::size_t root = openDir(countNamed(tree_), tree_.size() - countNamed(tree_));
  std::size_t typeIndex = 0;
  for (auto& [type, byName] : tree_) {
    const std::size_t typeDir = openDir(countNamed(byName), byName.size() - countNamed(byName));
    putEntry(root, typeIndex++, writeName(type), kHighBit | static_cast<std::uint32_t>(typeDir));
    std::size_t nameIndex = 0;
    for (auto& [name, byLanguage] : byName) {
      const std::size_t nameDir = openDir(0, byLanguage.size());
      putEntry(typeDir, nameIndex++, writeName(name),
               kHighBit | static_cast<std::uint32_t>(nameDir));
      std::size_t languageIndex = 0;
      for (auto& [language, index] : byLanguage) {
        const std::size_t leaf = nextLeaf;
        nextLeaf += pe::kTreeDataEntrySize;
        putEntry(nameDir, languageIndex++, language, static_cast<std::uint32_t>(leaf));
        Put32(out + leaf + pe::kTreeDataRva, sectionRva + offsets[index]);
        Put32(out + leaf + pe::kTreeDataSize, sizes[index]);
      }
    }
  }
  return bytes;
}

}  // namespace kv
