#include "tests/support/pe_tables.h"

#include <cstdint>
#include <fstream>
#include <iterator>

namespace kv::test {
namespace {

class Image {
 public:
  explicit Image(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

  bool Has(std::size_t offset, std::size_t size) const {
    return offset <= bytes_.size() && size <= bytes_.size() - offset;
  }
  uint16_t U16(std::size_t offset) const {
    return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
  }
  uint32_t U32(std::size_t offset) const {
    return static_cast<uint32_t>(U16(offset)) | static_cast<uint32_t>(U16(offset + 2)) << 16;
  }
  // The NUL-terminated text at `offset`; false if it runs off the file.
  bool Text(std::size_t offset, std::string* text) const {
    for (std::size_t end = offset; end < bytes_.size(); ++end) {
      if (bytes_[end] == 0) {
        text->assign(bytes_.begin() + static_cast<std::ptrdiff_t>(offset),
                     bytes_.begin() + static_cast<std::ptrdiff_t>(end));
        return true;
      }
    }
    return false;
  }

 private:
  std::vector<unsigned char> bytes_;
};

struct Section {
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawSize;
  uint32_t rawOffset;
};

// File offset of a relative virtual address; false if no section holds it.
bool RvaToOffset(const std::vector<Section>& sections, uint32_t rva, std::size_t* offset) {
  for (const Section& s : sections) {
    uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva - s.virtualAddress < span) {
      *offset = static_cast<std::size_t>(rva - s.virtualAddress) + s.rawOffset;
      return true;
    }
  }
  return false;
}

bool Fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

// The sections and data directories of a PE file.
struct PeLayout {
  std::vector<Section> sections;
  std::vector<uint32_t> directories;  // RVA of each data directory (0 = none)
};

bool LoadLayout(const std::string& path, Image* image, PeLayout* layout, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return Fail(error, "cannot open " + path);
  *image = Image(std::vector<unsigned char>((std::istreambuf_iterator<char>(file)),
                                            std::istreambuf_iterator<char>()));

  if (!image->Has(0, 0x40) || image->U16(0) != 0x5A4D) return Fail(error, "no DOS header (MZ)");
  std::size_t pe = image->U32(0x3C);
  if (!image->Has(pe, 24) || image->U32(pe) != 0x00004550) return Fail(error, "no PE signature");
  std::size_t sectionCount = image->U16(pe + 6);
  std::size_t optionalSize = image->U16(pe + 20);
  std::size_t optional = pe + 24;
  if (!image->Has(optional, optionalSize) || optionalSize < 2) {
    return Fail(error, "short optional header");
  }
  // PE32 and PE32+ differ in where the data directories start.
  std::size_t directoryCountAt;
  switch (image->U16(optional)) {
    case 0x10B: directoryCountAt = optional + 92; break;
    case 0x20B: directoryCountAt = optional + 108; break;
    default: return Fail(error, "unknown optional header magic");
  }
  if (directoryCountAt + 4 > optional + optionalSize) return Fail(error, "short optional header");
  const std::size_t count = image->U32(directoryCountAt);
  for (std::size_t i = 0; i < count && directoryCountAt + 4 + i * 8 + 8 <= optional + optionalSize;
       ++i) {
    layout->directories.push_back(image->U32(directoryCountAt + 4 + i * 8));
  }
  std::size_t table = optional + optionalSize;
  if (!image->Has(table, sectionCount * 40)) return Fail(error, "short section table");
  for (std::size_t i = 0; i < sectionCount; ++i) {
    std::size_t at = table + i * 40;
    layout->sections.push_back(
        {image->U32(at + 12), image->U32(at + 8), image->U32(at + 16), image->U32(at + 20)});
  }
  return true;
}

}  // namespace

bool ReadExportNames(const std::string& path, std::vector<std::string>* names, std::string* error) {
  names->clear();
  Image image({});
  PeLayout layout;
  if (!LoadLayout(path, &image, &layout, error)) return false;
  const std::vector<Section>& sections = layout.sections;
  if (layout.directories.empty() || layout.directories[0] == 0) return true;
  uint32_t exportRva = layout.directories[0];
  std::size_t exports;
  if (!RvaToOffset(sections, exportRva, &exports) || !image.Has(exports, 40)) {
    return Fail(error, "export directory outside the sections");
  }
  uint32_t nameCount = image.U32(exports + 24);
  std::size_t namePointers;
  if (!RvaToOffset(sections, image.U32(exports + 32), &namePointers) ||
      !image.Has(namePointers, static_cast<std::size_t>(nameCount) * 4)) {
    return Fail(error, "name pointer table outside the sections");
  }
  for (uint32_t i = 0; i < nameCount; ++i) {
    std::size_t nameAt;
    std::string name;
    if (!RvaToOffset(sections, image.U32(namePointers + i * 4), &nameAt) ||
        !image.Text(nameAt, &name)) {
      return Fail(error, "export name outside the sections");
    }
    names->push_back(name);
  }
  return true;
}

bool ReadImportedDllNames(const std::string& path, std::vector<std::string>* names,
                          std::string* error) {
  names->clear();
  Image image({});
  PeLayout layout;
  if (!LoadLayout(path, &image, &layout, error)) return false;
  // Directory 1: the import descriptors (20 bytes each, the name's RVA at
  // +12, a zero descriptor at the end); directory 13: delay-load ones (32
  // bytes each, the name's RVA at +4).
  const struct {
    std::size_t index;
    std::size_t size;
    std::size_t nameAt;
  } kinds[] = {{1, 20, 12}, {13, 32, 4}};
  for (const auto& kind : kinds) {
    if (layout.directories.size() <= kind.index || layout.directories[kind.index] == 0) continue;
    std::size_t at;
    if (!RvaToOffset(layout.sections, layout.directories[kind.index], &at)) {
      return Fail(error, "import directory outside the sections");
    }
    for (;; at += kind.size) {
      if (!image.Has(at, kind.size)) return Fail(error, "import directory runs off the file");
      const uint32_t nameRva = image.U32(at + kind.nameAt);
      if (nameRva == 0) break;
      std::size_t nameAt;
      std::string name;
      if (!RvaToOffset(layout.sections, nameRva, &nameAt) || !image.Text(nameAt, &name)) {
        return Fail(error, "import name outside the sections");
      }
      names->push_back(name);
    }
  }
  return true;
}

}  // namespace kv::test
