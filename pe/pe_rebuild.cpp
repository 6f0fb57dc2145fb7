#include "pe/pe_rebuild.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "archive/archive_format.h"
#include "pe/pe_layout.h"

namespace kv {

namespace {

constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint32_t kHighBit = 0x80000000u;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

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

struct PeHeaders {
  std::size_t pe = 0;          // offset of "PE\0\0"
  std::size_t optional = 0;    // offset of the optional header
  std::size_t sections = 0;    // offset of the section table
  std::uint16_t sectionCount = 0;
  std::uint32_t fileAlignment = 0;
  std::uint32_t sectionAlignment = 0;
  std::uint32_t directoryCount = 0;
};

bool ReadHeaders(const std::vector<std::uint8_t>& f, PeHeaders* h, std::string* error) {
  auto has = [&](std::uint64_t at, std::uint64_t n) { return at <= f.size() && n <= f.size() - at; };
  if (!has(0, 0x40) || f[0] != 'M' || f[1] != 'Z') {
    *error = "not a PE file: no \"MZ\" header";
    return false;
  }
  h->pe = U32(&f[0x3C]);
  if (!has(h->pe, 24) || std::memcmp(&f[h->pe], "PE\0\0", 4) != 0) {
    *error = "not a PE file: no \"PE\" signature where the DOS header points";
    return false;
  }
  h->sectionCount = U16(&f[h->pe + 6]);
  const std::uint16_t optionalSize = U16(&f[h->pe + 20]);
  h->optional = h->pe + 24;
  if (!has(h->optional, optionalSize) || optionalSize < 96 + 16 * 8 ||
      U16(&f[h->optional]) != 0x10B) {
    *error = "not a 32-bit PE image (PE32 optional header with 16 data directories expected)";
    return false;
  }
  h->sectionAlignment = U32(&f[h->optional + 32]);
  h->fileAlignment = U32(&f[h->optional + 36]);
  h->directoryCount = U32(&f[h->optional + 92]);
  if (h->directoryCount < 16 || h->fileAlignment == 0 || h->sectionAlignment == 0 ||
      (h->fileAlignment & (h->fileAlignment - 1)) != 0 ||
      (h->sectionAlignment & (h->sectionAlignment - 1)) != 0) {
    *error = "PE optional header with unusable alignments or directory count";
    return false;
  }
  h->sections = h->optional + optionalSize;
  if (!has(h->sections, std::uint64_t{h->sectionCount} * kSectionHeaderSize)) {
    *error = "PE section table lies outside the file";
    return false;
  }
  return true;
}

std::size_t Directory(const PeHeaders& h, int index) { return h.optional + 96 + 8 * index; }
std::size_t SectionAt(const PeHeaders& h, int index) {
  return h.sections + static_cast<std::size_t>(index) * kSectionHeaderSize;
}
std::string SectionName(const std::vector<std::uint8_t>& f, std::size_t header) {
  const char* name = reinterpret_cast<const char*>(&f[header]);
  return std::string(name, strnlen(name, 8));
}

struct StubSections {
  int resource = -1;
  int reloc = -1;
};

bool FindSections(const std::vector<std::uint8_t>& f, const PeHeaders& h, StubSections* s,
                  std::string* error) {
  const std::uint32_t rsrcRva = U32(&f[Directory(h, 2)]);
  for (int i = 0; i < h.sectionCount; ++i) {
    const std::size_t header = SectionAt(h, i);
    if (U32(&f[header + 12]) == rsrcRva && rsrcRva != 0) s->resource = i;
  }
  if (s->resource < 0) {
    *error = "the executable has no resource section where its resource directory points";
    return false;
  }
  for (int i = s->resource + 1; i < h.sectionCount; ++i) {
    if (SectionName(f, SectionAt(h, i)) == ".reloc" && s->reloc < 0 && i == s->resource + 1) {
      s->reloc = i;
    } else {
      *error = "section " + SectionName(f, SectionAt(h, i)) +
               " follows the resource section; only .reloc may";
      return false;
    }
  }
  return true;
}

bool Overlaps(std::uint64_t a, std::uint64_t aEnd, std::uint64_t b, std::uint64_t bEnd) {
  return a < bEnd && b < aEnd;
}

// What the rebuild itself relies on, beyond a sound layout: it keeps the
// file up to the resource section's first byte, writes the new section
// there and .reloc behind it, and leaves every other byte and address as it
// was. So nothing but .reloc may have bytes behind the resource section,
// and no data directory but the resources' and the relocations' may point
// into the two sections that change.
bool CheckRebuildable(const PeLayout& pe, const StubSections& s, std::string* error) {
  const PeSection& rsrc = pe.sections[static_cast<std::size_t>(s.resource)];
  if (rsrc.rawOffset < pe.sizeOfHeaders) {
    *error = "the resource section starts at " + std::to_string(rsrc.rawOffset) +
             ", inside the headers (" + std::to_string(pe.sizeOfHeaders) + " bytes)";
    return false;
  }
  for (std::size_t i = 0; i < pe.sections.size(); ++i) {
    const PeSection& other = pe.sections[i];
    if (static_cast<int>(i) == s.resource || other.rawSize == 0) continue;
    const std::uint64_t end = std::uint64_t{other.rawOffset} + other.rawSize;
    if (static_cast<int>(i) == s.reloc) {
      // The rebuild places .reloc in memory by its virtual size; the loader
      // takes the raw size where that is 0.
      if (other.virtualSize == 0) {
        *error = "section .reloc has a virtual size of 0";
        return false;
      }
      if (other.rawOffset < std::uint64_t{rsrc.rawOffset} + rsrc.rawSize) {
        *error = "section .reloc has bytes before the end of the resource section's";
        return false;
      }
    } else if (end > rsrc.rawOffset) {
      *error = "section " + PrintableText(other.name) +
               " has bytes behind the start of the resource section's; they would be lost";
      return false;
    }
  }
  auto span = [&](const PeSection& sec) {
    const std::uint64_t size = sec.virtualSize != 0 ? sec.virtualSize : sec.rawSize;
    return std::pair<std::uint64_t, std::uint64_t>(
        sec.virtualAddress, sec.virtualAddress + AlignUp(size, pe.sectionAlignment));
  };
  const auto rsrcSpan = span(rsrc);
  const auto relocSpan = s.reloc >= 0 ? span(pe.sections[static_cast<std::size_t>(s.reloc)])
                                      : std::pair<std::uint64_t, std::uint64_t>(0, 0);
  for (int d = 0; d < 16; ++d) {
    if (d == 2 || d == 4 || pe.directorySize[d] == 0) continue;
    const std::uint64_t start = pe.directoryRva[d];
    const std::uint64_t end = start + pe.directorySize[d];
    if (d == 5 && s.reloc >= 0) {
      if (start != relocSpan.first) {
        *error = "the base relocations do not start where section .reloc does";
        return false;
      }
      continue;
    }
    if (Overlaps(start, end, rsrcSpan.first, rsrcSpan.second) ||
        Overlaps(start, end, relocSpan.first, relocSpan.second)) {
      *error = "data directory " + std::to_string(d) +
               " points into the resource or relocation section, which the rebuild replaces";
      return false;
    }
  }
  return true;
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
  auto dirBytes = [](std::size_t entries) { return 16 + 8 * entries; };
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
  nameStart_ = leafStart_ + 16 * leaves;
  dataStart_ = static_cast<std::uint32_t>(AlignUp(nameStart_ + names, 8));
  return true;
}

std::vector<std::uint8_t> ResourcePlan::Directory(std::uint32_t sectionRva,
                                                  const std::vector<std::uint32_t>& offsets,
                                                  const std::vector<std::uint32_t>& sizes) const {
  std::vector<std::uint8_t> bytes(dataStart_, 0);
  std::uint8_t* out = bytes.data();
  auto dirBytes = [](std::size_t entries) { return 16 + 8 * entries; };
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
    Put16(out + at + 12, static_cast<std::uint32_t>(named));
    Put16(out + at + 14, static_cast<std::uint32_t>(ids));
    nextDir += dirBytes(named + ids);
    return at;
  };
  auto countNamed = [](const auto& map) {
    std::size_t n = 0;
    for (const auto& kv : map) n += IsId(kv.first) ? 0 : 1;
    return n;
  };

  const std::size_t root = openDir(countNamed(tree_), tree_.size() - countNamed(tree_));
  std::size_t typeIndex = 0;
  for (auto& [type, byName] : tree_) {
    const std::size_t typeDir = openDir(countNamed(byName), byName.size() - countNamed(byName));
    Put32(out + root + 16 + 8 * typeIndex, writeName(type));
    Put32(out + root + 16 + 8 * typeIndex + 4, kHighBit | static_cast<std::uint32_t>(typeDir));
    ++typeIndex;
    std::size_t nameIndex = 0;
    for (auto& [name, byLanguage] : byName) {
      const std::size_t nameDir = openDir(0, byLanguage.size());
      Put32(out + typeDir + 16 + 8 * nameIndex, writeName(name));
      Put32(out + typeDir + 16 + 8 * nameIndex + 4, kHighBit | static_cast<std::uint32_t>(nameDir));
      ++nameIndex;
      std::size_t languageIndex = 0;
      for (auto& [language, index] : byLanguage) {
        const std::size_t leaf = nextLeaf;
        nextLeaf += 16;
        Put32(out + nameDir + 16 + 8 * languageIndex, language);
        Put32(out + nameDir + 16 + 8 * languageIndex + 4, static_cast<std::uint32_t>(leaf));
        ++languageIndex;
        Put32(out + leaf, sectionRva + offsets[index]);
        Put32(out + leaf + 4, sizes[index]);
      }
    }
  }
  return bytes;
}

bool InspectStub(const std::vector<std::uint8_t>& stub, StubLayout* layout, std::string* error) {
  PeLayout pe;
  if (!CheckPeLayout(stub.data(), stub.size(), &pe, error)) return false;
  PeHeaders h;
  if (!ReadHeaders(stub, &h, error)) return false;
  if (U32(&stub[h.pe + 12]) != 0 || U32(&stub[h.pe + 16]) != 0) {
    *error = "the executable carries a COFF symbol table; link it stripped";
    return false;
  }
  StubSections s;
  if (!FindSections(stub, h, &s, error)) return false;
  if (!CheckRebuildable(pe, s, error)) return false;
  std::uint64_t fileEnd = 0;
  for (int i = 0; i < h.sectionCount; ++i) {
    const std::size_t header = SectionAt(h, i);
    const std::uint64_t end = std::uint64_t{U32(&stub[header + 20])} + U32(&stub[header + 16]);
    if (U32(&stub[header + 16]) != 0 && end > stub.size()) {
      *error = "section " + SectionName(stub, header) + " lies outside the file";
      return false;
    }
    if (U32(&stub[header + 16]) != 0) fileEnd = std::max(fileEnd, end);
  }
  const std::uint32_t certificates = U32(&stub[Directory(h, 4)]);
  const std::uint64_t tail = certificates != 0 ? certificates : stub.size();
  if (fileEnd < tail && certificates == 0) {
    *error = std::to_string(stub.size() - fileEnd) +
             " bytes follow the last section; they would be lost";
    return false;
  }
  layout->resourceRva = U32(&stub[SectionAt(h, s.resource) + 12]);
  return true;
}

std::uint64_t WordSum(std::uint64_t offset, const std::uint8_t* p, std::size_t n) {
  // A byte at an even offset is a word's low byte, at an odd one its high
  // byte.
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  std::size_t i = 0;
  if (n != 0 && (offset & 1) != 0) high += p[i++];
  for (; i + 1 < n; i += 2) {
    low += p[i];
    high += p[i + 1];
  }
  if (i < n) low += p[i];
  return low + (high << 8);
}

std::uint32_t FoldChecksum(std::uint64_t wordSum, std::uint64_t fileSize) {
  // Adding 16-bit words with end-around carry and folding once at the end
  // gives the same sum as folding after every word.
  while (wordSum >> 16) wordSum = (wordSum & 0xFFFF) + (wordSum >> 16);
  return static_cast<std::uint32_t>(wordSum + fileSize);
}

bool SetupImageWriter::Prepare(const std::vector<std::uint8_t>& stub, const StubLayout& layout,
                               std::string* error) {
  PeHeaders h;
  StubSections s;
  if (!ReadHeaders(stub, &h, error) || !FindSections(stub, h, &s, error)) return false;
  const std::size_t rsrcHeader = SectionAt(h, s.resource);
  if (U32(&stub[rsrcHeader + 12]) != layout.resourceRva) {
    *error = "the resource section moved since the stub was inspected";
    return false;
  }
  const std::uint32_t rawStart = U32(&stub[rsrcHeader + 20]);
  head_.assign(stub.begin(), stub.begin() + rawStart);
  reloc_.clear();
  relocVirtualSize_ = 0;
  hasReloc_ = s.reloc >= 0;
  if (hasReloc_) {
    const std::size_t header = SectionAt(h, s.reloc);
    const std::uint32_t raw = U32(&stub[header + 16]);
    const std::uint32_t at = U32(&stub[header + 20]);
    reloc_.assign(stub.begin() + at, stub.begin() + at + raw);
    relocVirtualSize_ = U32(&stub[header + 8]);
  }
  pe_ = h.pe;
  optional_ = h.optional;
  rsrcHeader_ = rsrcHeader;
  relocHeader_ = hasReloc_ ? SectionAt(h, s.reloc) : 0;
  resourceDirectory_ = Directory(h, 2);
  relocDirectory_ = Directory(h, 5);
  certificateDirectory_ = Directory(h, 4);
  fileAlignment_ = h.fileAlignment;
  sectionAlignment_ = h.sectionAlignment;
  resourceRva_ = layout.resourceRva;
  oldRaw_ = U32(&stub[rsrcHeader + 16]);
  return true;
}

bool SetupImageWriter::Begin(OutputFile* out, std::string* error) {
  out_ = out;
  sum_ = 0;
  // The headers and the sections before the resource section take their
  // final bytes in Finish; zeros hold their place (and add nothing to the
  // checksum's sum).
  const std::vector<std::uint8_t> zeros(head_.size(), 0);
  return out_->Append(zeros.data(), zeros.size(), error);
}

std::uint64_t SetupImageWriter::ImageSize(std::uint64_t sectionSize) const {
  std::uint64_t end = resourceRva_ + AlignUp(std::max<std::uint64_t>(sectionSize, 1), sectionAlignment_);
  if (hasReloc_) end += AlignUp(std::max<std::uint32_t>(relocVirtualSize_, 1), sectionAlignment_);
  return end;
}

bool SetupImageWriter::Append(const std::uint8_t* data, std::size_t count, std::string* error) {
  sum_ += WordSum(out_->Size(), data, count);
  return out_->Append(data, count, error);
}

bool SetupImageWriter::PatchZeros(std::uint64_t sectionOffset, const std::uint8_t* data,
                                  std::size_t count, std::string* error) {
  const std::uint64_t at = head_.size() + sectionOffset;
  sum_ += WordSum(at, data, count);
  return out_->WriteAt(at, data, count, error);
}

bool SetupImageWriter::Finish(std::uint32_t timeStamp, std::string* error) {
  const std::uint64_t sectionSize = SectionSize();
  const std::uint64_t newRaw = AlignUp(sectionSize, fileAlignment_);
  const std::uint64_t imageEnd = ImageSize(sectionSize);
  if (imageEnd > kMaxSetupImage) {
    *error = "the setup executable would need an image of " + std::to_string(imageEnd) +
             " bytes; a 32-bit Windows process maps at most " + std::to_string(kMaxSetupImage);
    return false;
  }
  const std::vector<std::uint8_t> padding(static_cast<std::size_t>(newRaw - sectionSize), 0);
  if (!Append(padding.data(), padding.size(), error)) return false;
  const std::uint64_t relocRawStart = out_->Size();
  if (!Append(reloc_.data(), reloc_.size(), error)) return false;

  std::uint8_t* f = head_.data();
  const std::uint64_t rsrcVirtualEnd =
      resourceRva_ + AlignUp(std::max<std::uint64_t>(sectionSize, 1), sectionAlignment_);
  Put32(f + rsrcHeader_ + 8, static_cast<std::uint32_t>(sectionSize));
  Put32(f + rsrcHeader_ + 16, static_cast<std::uint32_t>(newRaw));
  Put32(f + resourceDirectory_ + 4, static_cast<std::uint32_t>(sectionSize));
  if (hasReloc_) {
    Put32(f + relocHeader_ + 12, static_cast<std::uint32_t>(rsrcVirtualEnd));
    Put32(f + relocHeader_ + 20, static_cast<std::uint32_t>(relocRawStart));
    Put32(f + relocDirectory_, static_cast<std::uint32_t>(rsrcVirtualEnd));
  }
  // The signature covered the old file; the publisher signs the new one.
  Put32(f + certificateDirectory_, 0);
  Put32(f + certificateDirectory_ + 4, 0);
  Put32(f + optional_ + 56, static_cast<std::uint32_t>(imageEnd));  // SizeOfImage
  const std::uint32_t initialized = U32(f + optional_ + 8);
  Put32(f + optional_ + 8, static_cast<std::uint32_t>(initialized - oldRaw_ + newRaw));
  Put32(f + pe_ + 8, timeStamp);
  Put32(f + optional_ + 64, 0);
  sum_ += WordSum(0, f, head_.size());
  Put32(f + optional_ + 64, FoldChecksum(sum_, out_->Size()));
  return out_->WriteAt(0, f, head_.size(), error);
}

std::uint32_t PeChecksum(const std::vector<std::uint8_t>& file, std::size_t checksumOffset) {
  std::uint32_t checksum = 0;
  PeChecksum(file.data(), file.size(), checksumOffset, nullptr, &checksum);
  return checksum;
}

bool PeChecksum(const std::uint8_t* file, std::size_t size, std::size_t checksumOffset,
                const PieceLender& lend, std::uint32_t* checksum) {
  constexpr std::size_t kPiece = 64u << 20;
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < size; at += kPiece) {
    const std::size_t count = std::min(kPiece, size - at);
    const std::uint8_t* piece = Borrow(lend, file + at, count);
    if (piece == nullptr) return false;
    sum += WordSum(at, piece, count);
  }
  // The CheckSum field itself counts as zero.
  if (checksumOffset + 4 <= size) sum -= WordSum(checksumOffset, file + checksumOffset, 4);
  *checksum = FoldChecksum(sum, size);
  return true;
}

}  // namespace kv
