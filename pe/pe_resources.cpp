#include "pe/pe_resources.h"

#include <unordered_set>

#include "archive/archive_format.h"
#include "pe/pe_headers.h"

namespace kv {

namespace {

using pe::U16;
using pe::U32;
constexpr std::uint32_t kHighBit = pe::kTreeHighBit;
constexpr std::uint64_t kDirectorySize = pe::kTreeDirectorySize;
constexpr std::uint64_t kDirectoryEntrySize = pe::kTreeEntrySize;
constexpr std::uint64_t kDataEntrySize = pe::kTreeDataEntrySize;

// Reads the resource tree of one PE file whose headers ReadPeHeaders read.
// Every read goes through Has(), which checks against the buffer in 64-bit
// arithmetic.
class PeReader {
 public:
  PeReader(const std::uint8_t* file, std::size_t size) : file_(file), size_(size) {}

  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // Maps [rva, rva + length) to a file offset inside one section's raw bytes.
  bool MapRva(std::uint32_t rva, std::uint64_t length, std::uint64_t* offset) const {
    for (const PeSection& s : headers_.sections) {
      const std::uint64_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      // An empty resource may sit right at the end of its section.
      if (rva < s.virtualAddress || rva - s.virtualAddress > span ||
          (rva - s.virtualAddress == span && length != 0))
        continue;
      const std::uint64_t delta = rva - s.virtualAddress;
      if (delta + length > s.rawSize) return false;
      *offset = s.rawOffset + delta;
      return Has(*offset, length);
    }
    return false;
  }

  bool ReadHeaders(std::uint32_t* resourceRva, std::uint32_t* resourceSize, std::string* error) {
    if (ReadPeHeaders(file_, size_, &headers_, error) != PeFault::kNone) return false;
    // An optional header too short for the resource directory, or one that
    // lists fewer directories, means there are none (they read as 0).
    *resourceRva = headers_.directoryRva[pe::kResourceDirectory];
    *resourceSize = headers_.directorySize[pe::kResourceDirectory];
    return true;
  }

  // The resource tree: its first byte in the file and how many bytes of
  // its section follow it there.
  bool LocateTree(std::uint32_t rva, std::string* error) {
    for (const PeSection& s : headers_.sections) {
      const std::uint64_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
      const std::uint64_t delta = rva - s.virtualAddress;
      if (delta >= s.rawSize || !Has(static_cast<std::uint64_t>(s.rawOffset) + delta, 0)) break;
      treeOffset_ = s.rawOffset + delta;
      std::uint64_t available = s.rawSize - delta;
      if (available > size_ - treeOffset_) available = size_ - treeOffset_;
      treeSize_ = available;
      nameBudget_ = available;
      return true;
    }
    *error = "PE resource directory lies outside the sections' bytes in the file";
    return false;
  }

  bool TreeHas(std::uint64_t offset, std::uint64_t length) const {
    return offset <= treeSize_ && length <= treeSize_ - offset;
  }
  const std::uint8_t* Tree(std::uint64_t offset) const { return file_ + treeOffset_ + offset; }

  struct DirEntry {
    bool named;
    std::uint32_t nameWord;
    std::uint32_t offsetWord;
  };

  bool ReadDirectory(std::uint64_t offset, std::vector<DirEntry>* entries, std::string* error) {
    if (!FirstVisit(offset)) {
      *error = "PE resource directory at " + std::to_string(offset) +
               " is reached twice: the resource tree folds back on itself";
      return false;
    }
    if (!TreeHas(offset, kDirectorySize)) {
      *error = "PE resource directory lies outside the resource section";
      return false;
    }
    const std::uint64_t count =
        static_cast<std::uint64_t>(U16(Tree(offset) + pe::kTreeNamedCount)) +
        U16(Tree(offset) + pe::kTreeIdCount);
    if (!TreeHas(offset + kDirectorySize, count * kDirectoryEntrySize)) {
      *error = "PE resource directory entries lie outside the resource section";
      return false;
    }
    entries->clear();
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint8_t* e = Tree(offset + kDirectorySize + i * kDirectoryEntrySize);
      const std::uint32_t nameWord = U32(e);
      entries->push_back(
          DirEntry{(nameWord & kHighBit) != 0, nameWord, U32(e + pe::kTreeEntryOffset)});
    }
    return true;
  }

  // The length of a string name in characters, or of "#<id>" for an id;
  // false when the string lies outside.
  bool NameLength(const DirEntry& e, std::uint64_t* length, std::string* error) const {
    if (!e.named) {
      *length = 1 + std::to_string(e.nameWord & 0xFFFFu).size();
      return true;
    }
    const std::uint64_t offset = e.nameWord & ~kHighBit;
    if (!TreeHas(offset, 2) || !TreeHas(offset + 2, 2ull * U16(Tree(offset)))) {
      *error = "PE resource name lies outside the resource section";
      return false;
    }
    *length = U16(Tree(offset));
    return true;
  }

  // Marks the directory or data entry at `offset` as reached; false when it
  // was reached before (a tree that folds back on itself).
  bool FirstVisit(std::uint64_t offset) { return visited_.insert(offset).second; }

  // Reads a string name or makes "#<id>". Every character of a string name
  // counts against a budget of the tree's bytes: a sound tree stores each
  // name once, in two bytes a character, while a damaged one can name one
  // long string from thousands of entries, and its names would then take
  // time, memory and output out of all proportion to the file.
  bool EntryName(const DirEntry& e, std::string* name, std::string* error) {
    if (!e.named) {
      *name = "#" + std::to_string(e.nameWord & 0xFFFFu);
      return true;
    }
    std::uint64_t length = 0;
    if (!NameLength(e, &length, error)) return false;
    if (length > nameBudget_) {
      *error = "PE resource names take more characters than the resource tree has bytes (" +
               std::to_string(treeSize_) + "): the tree names one string over and over";
      return false;
    }
    nameBudget_ -= length;
    const std::uint64_t offset = e.nameWord & ~kHighBit;
    name->clear();
    for (std::uint64_t i = 0; i < length; ++i) {
      const std::uint16_t c = U16(Tree(offset + 2 + 2 * i));
      name->push_back(c < 256 ? static_cast<char>(c) : '?');
    }
    return true;
  }

 private:
  const std::uint8_t* file_;
  std::uint64_t size_;
  PeHeaders headers_;
  std::uint64_t treeOffset_ = 0;
  std::uint64_t treeSize_ = 0;
  std::uint64_t nameBudget_ = 0;  // characters of string names still to be read
  std::unordered_set<std::uint64_t> visited_;
};

}  // namespace

bool FindPeResources(const std::uint8_t* file, std::size_t size, std::string_view type,
                     std::vector<PeResource>* out, std::string* error) {
  out->clear();
  PeReader pe(file, size);
  std::uint32_t rva = 0;
  std::uint32_t rsrcSize = 0;
  if (!pe.ReadHeaders(&rva, &rsrcSize, error)) return false;
  if (rva == 0 || rsrcSize == 0) return true;  // no resources at all
  if (!pe.LocateTree(rva, error)) return false;

  // Every directory and data entry is used once, so the work is bounded by
  // the tree's bytes; the cap keeps a large damaged file from listing more
  // than any setup carries.
  std::vector<PeReader::DirEntry> types;
  if (!pe.ReadDirectory(0, &types, error)) return false;
  std::size_t resources = 0;
  for (const PeReader::DirEntry& t : types) {
    std::uint64_t length = 0;
    if (!pe.NameLength(t, &length, error)) return false;
    if (!type.empty() && length != type.size()) continue;
    std::string typeName;
    if (!pe.EntryName(t, &typeName, error)) return false;
    if (!type.empty() && !SameAsciiName(typeName, type)) continue;
    if ((t.offsetWord & kHighBit) == 0) {
      *error = "PE resource type " + PrintableText(typeName) + " is not a directory";
      return false;
    }
    std::vector<PeReader::DirEntry> names;
    if (!pe.ReadDirectory(t.offsetWord & ~kHighBit, &names, error)) return false;
    for (const PeReader::DirEntry& n : names) {
      PeResource resource;
      resource.type = typeName;
      if (!pe.EntryName(n, &resource.name, error)) return false;
      const std::string shown = PrintableText(resource.name);
      if ((n.offsetWord & kHighBit) == 0) {
        *error = "PE resource " + shown + " has no language directory";
        return false;
      }
      std::vector<PeReader::DirEntry> languages;
      if (!pe.ReadDirectory(n.offsetWord & ~kHighBit, &languages, error)) return false;
      for (const PeReader::DirEntry& l : languages) {
        // A subdirectory here would be a fourth level.
        if ((l.offsetWord & kHighBit) != 0 || l.named) {
          *error = "PE resource " + shown + " has a malformed language entry";
          return false;
        }
        if (!pe.TreeHas(l.offsetWord, kDataEntrySize)) {
          *error = "PE resource " + shown + ": data entry outside the resource section";
          return false;
        }
        if (!pe.FirstVisit(l.offsetWord)) {
          *error = "PE resource " + shown + ": its data entry is reached twice";
          return false;
        }
        if (++resources > kMaxPeResources) {
          *error = "more than " + std::to_string(kMaxPeResources) +
                   " resources: the resource tree is damaged";
          return false;
        }
        const std::uint8_t* d = pe.Tree(l.offsetWord);
        const std::uint32_t dataRva = U32(d + pe::kTreeDataRva);
        resource.size = U32(d + pe::kTreeDataSize);
        resource.language = static_cast<std::uint16_t>(l.nameWord);
        std::uint64_t offset = 0;
        if (!pe.MapRva(dataRva, resource.size, &offset)) {
          *error = "PE resource " + shown + ": its " + std::to_string(resource.size) +
                   " bytes lie outside the file's section bytes";
          return false;
        }
        resource.fileOffset = static_cast<std::uint32_t>(offset);
        resource.data = file + offset;
        out->push_back(resource);
      }
    }
  }
  return true;
}

}  // namespace kv
