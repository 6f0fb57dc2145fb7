#include "pe/pe_layout.h"

#include <cstring>

#include "archive/archive_format.h"

namespace kv {

namespace {

constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr int kCertificateDirectory = 4;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

bool PowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// The bytes a section takes in memory.
std::uint64_t VirtualSpan(const PeSection& s, std::uint32_t alignment) {
  const std::uint64_t size = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
  return AlignUp(size, alignment);
}

bool Fail(std::string* why, std::string text) {
  *why = std::move(text);
  return false;
}

}  // namespace

bool CheckPeLayout(const std::uint8_t* file, std::size_t size, PeLayout* layout,
                   std::string* why) {
  const std::uint64_t total = size;
  auto has = [&](std::uint64_t at, std::uint64_t n) { return at <= total && n <= total - at; };
  PeLayout& h = *layout;
  h = PeLayout{};
  if (!has(0, 0x40) || file[0] != 'M' || file[1] != 'Z') {
    return Fail(why, "not a PE file: no \"MZ\" header");
  }
  h.pe = U32(file + 0x3C);
  if (!has(h.pe, 24) || std::memcmp(file + h.pe, "PE\0\0", 4) != 0) {
    return Fail(why, "not a PE file: no \"PE\" signature where the DOS header points");
  }
  const std::uint16_t sectionCount = U16(file + h.pe + 6);
  const std::uint16_t optionalSize = U16(file + h.pe + 20);
  h.optional = h.pe + 24;
  if (!has(h.optional, optionalSize) || optionalSize < 96 + 16 * 8 ||
      U16(file + h.optional) != kPe32Magic || U32(file + h.optional + 92) < 16) {
    return Fail(why, "not a 32-bit PE image (PE32 optional header with 16 data directories "
                     "expected)");
  }
  const std::uint8_t* o = file + h.optional;
  h.sectionAlignment = U32(o + 32);
  h.fileAlignment = U32(o + 36);
  h.sizeOfImage = U32(o + 56);
  h.sizeOfHeaders = U32(o + 60);
  h.checksumOffset = static_cast<std::uint32_t>(h.optional + 64);
  if (!PowerOfTwo(h.fileAlignment) || !PowerOfTwo(h.sectionAlignment)) {
    return Fail(why, "PE optional header with alignments that are no power of two");
  }
  for (int d = 0; d < 16; ++d) {
    h.directoryRva[d] = U32(o + 96 + 8 * d);
    h.directorySize[d] = U32(o + 96 + 8 * d + 4);
  }
  const std::uint64_t table = h.optional + optionalSize;
  const std::uint64_t tableEnd = table + sectionCount * kSectionHeaderSize;
  if (tableEnd > h.sizeOfHeaders || h.sizeOfHeaders > total) {
    return Fail(why, "the section table (ending at " + std::to_string(tableEnd) +
                         ") and SizeOfHeaders (" + std::to_string(h.sizeOfHeaders) +
                         ") do not lie inside the headers and the file");
  }

  std::uint64_t rawEnd = h.sizeOfHeaders;
  std::uint64_t virtualEnd = h.sizeOfHeaders;
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    const std::uint8_t* p = file + table + i * kSectionHeaderSize;
    PeSection s;
    s.name.assign(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), 8));
    s.virtualSize = U32(p + 8);
    s.virtualAddress = U32(p + 12);
    s.rawSize = U32(p + 16);
    s.rawOffset = U32(p + 20);
    s.header = static_cast<std::size_t>(table + i * kSectionHeaderSize);
    const std::string shown =
        "section " + std::to_string(i + 1) + " (" + PrintableText(s.name) + ")";
    if (!has(s.rawOffset, s.rawSize)) {
      return Fail(why, shown + ": its bytes " + std::to_string(s.rawOffset) + " + " +
                           std::to_string(s.rawSize) + " lie outside the file of " +
                           std::to_string(total) + " bytes");
    }
    if (s.rawSize != 0 && s.rawOffset < h.sizeOfHeaders) {
      return Fail(why, shown + ": its bytes start at " + std::to_string(s.rawOffset) +
                           ", inside the headers (" + std::to_string(h.sizeOfHeaders) +
                           " bytes)");
    }
    if (s.rawSize != 0 && s.rawOffset + std::uint64_t{s.rawSize} > rawEnd) {
      rawEnd = s.rawOffset + std::uint64_t{s.rawSize};
    }
    if (s.virtualAddress < virtualEnd) {
      return Fail(why, shown + ": its address " + std::to_string(s.virtualAddress) +
                           " lies inside the headers or the section before it in memory");
    }
    virtualEnd = s.virtualAddress + VirtualSpan(s, h.sectionAlignment);
    h.sections.push_back(std::move(s));
  }
  if (virtualEnd > h.sizeOfImage) {
    return Fail(why, "the sections end at " + std::to_string(virtualEnd) +
                         " in memory, past SizeOfImage (" + std::to_string(h.sizeOfImage) + ")");
  }
  // An empty directory names no bytes; the others lie in the headers or in
  // one section, where the loader maps them.
  for (int d = 0; d < 16; ++d) {
    if (h.directorySize[d] == 0) continue;
    const std::uint64_t end = std::uint64_t{h.directoryRva[d]} + h.directorySize[d];
    if (d == kCertificateDirectory) {
      if (h.directoryRva[d] < rawEnd || end > total) {
        return Fail(why, "the certificate table " + std::to_string(h.directoryRva[d]) + " + " +
                             std::to_string(h.directorySize[d]) +
                             " does not lie in the file behind the sections");
      }
    } else if (end > h.sizeOfHeaders && SectionHolding(h, h.directoryRva[d], h.directorySize[d]) < 0) {
      return Fail(why, "data directory " + std::to_string(d) + " (" +
                           std::to_string(h.directoryRva[d]) + " + " +
                           std::to_string(h.directorySize[d]) +
                           ") lies neither in the headers nor in one section of the image");
    }
  }
  return true;
}

int SectionHolding(const PeLayout& layout, std::uint64_t rva, std::uint64_t length) {
  for (std::size_t i = 0; i < layout.sections.size(); ++i) {
    const PeSection& s = layout.sections[i];
    const std::uint64_t end = s.virtualAddress + VirtualSpan(s, layout.sectionAlignment);
    if (rva >= s.virtualAddress && rva + length <= end) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace kv
