#include "pe/pe_headers.h"

#include <cstring>

#include "archive/archive_format.h"

namespace kv {

namespace {

using pe::U16;
using pe::U32;

std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

bool PowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool Fail(std::string* why, std::string text) {
  *why = std::move(text);
  return false;
}

PeFault Fault(std::string* why, PeFault fault, const char* text) {
  *why = text;
  return fault;
}

}  // namespace

std::size_t PeHeaders::Directory(int index) const {
  return optional + (pe32Plus ? pe::kDirectoriesPe32Plus : pe::kDirectoriesPe32) +
         pe::kDirectoryEntrySize * static_cast<std::size_t>(index);
}

PeFault ReadPeHeaders(const std::uint8_t* file, std::size_t size, PeHeaders* headers,
                      std::string* why) {
  // Every read below is of a range that has() accepted, in 64-bit
  // arithmetic, so no sum wraps on a 32-bit host.
  const std::uint64_t total = size;
  auto has = [&](std::uint64_t at, std::uint64_t n) { return at <= total && n <= total - at; };
  PeHeaders& h = *headers;
  h = PeHeaders{};
  if (!has(0, pe::kDosHeaderSize) || std::memcmp(file, pe::kDosSignature, 2) != 0) {
    return Fault(why, PeFault::kNoDosHeader, "not a PE file: no \"MZ\" header");
  }
  const std::uint64_t signature = U32(file + pe::kNewHeaderOffset);
  if (!has(signature, pe::kOptionalHeader) ||
      std::memcmp(file + signature, pe::kPeSignature, 4) != 0) {
    return Fault(why, PeFault::kNoSignature,
                 "not a PE file: no \"PE\" signature where the DOS header points");
  }
  h.pe = static_cast<std::size_t>(signature);
  const std::uint8_t* coff = file + h.pe;
  h.sectionCount = U16(coff + pe::kSectionCount);
  h.symbolTable = U32(coff + pe::kSymbolTable);
  h.symbolCount = U32(coff + pe::kSymbolCount);
  h.optionalSize = U16(coff + pe::kOptionalHeaderSize);
  h.optional = h.pe + pe::kOptionalHeader;
  if (!has(h.optional, h.optionalSize) || h.optionalSize < 2) {
    return Fault(why, PeFault::kOptionalOutside, "PE optional header lies outside the file");
  }
  const std::uint8_t* o = file + h.optional;
  const std::uint16_t magic = U16(o + pe::kMagic);
  if (magic != pe::kPe32Magic && magic != pe::kPe32PlusMagic) {
    return Fault(why, PeFault::kUnknownMagic, "PE optional header has an unknown magic");
  }
  h.pe32Plus = magic == pe::kPe32PlusMagic;
  // A field the optional header is too short for reads as 0.
  auto field = [&](std::size_t at) { return at + 4 <= h.optionalSize ? U32(o + at) : 0u; };
  h.sizeOfInitializedData = field(pe::kSizeOfInitializedData);
  h.sectionAlignment = field(pe::kSectionAlignment);
  h.fileAlignment = field(pe::kFileAlignment);
  h.sizeOfImage = field(pe::kSizeOfImage);
  h.sizeOfHeaders = field(pe::kSizeOfHeaders);
  h.checkSum = field(pe::kCheckSum);
  h.directoryCount = field(h.pe32Plus ? pe::kDirectoryCountPe32Plus : pe::kDirectoryCountPe32);
  for (int d = 0; d < pe::kDirectoryCount && static_cast<std::uint32_t>(d) < h.directoryCount;
       ++d) {
    const std::size_t at = h.Directory(d) - h.optional;
    if (at + pe::kDirectoryEntrySize > h.optionalSize) break;
    h.directoryRva[d] = U32(o + at);
    h.directorySize[d] = U32(o + at + pe::kDirectorySizeField);
  }
  h.sectionTable = h.optional + h.optionalSize;
  if (!has(h.sectionTable, std::uint64_t{h.sectionCount} * pe::kSectionHeaderSize)) {
    return Fault(why, PeFault::kSectionTableOutside, "PE section table lies outside the file");
  }
  for (std::uint16_t i = 0; i < h.sectionCount; ++i) {
    PeSection s;
    s.header = h.sectionTable + i * pe::kSectionHeaderSize;
    const std::uint8_t* p = file + s.header;
    const char* name = reinterpret_cast<const char*>(p);
    s.name.assign(name, strnlen(name, pe::kSectionNameSize));
    s.virtualSize = U32(p + pe::kVirtualSize);
    s.virtualAddress = U32(p + pe::kVirtualAddress);
    s.rawSize = U32(p + pe::kRawSize);
    s.rawOffset = U32(p + pe::kRawOffset);
    h.sections.push_back(std::move(s));
  }
  return PeFault::kNone;
}

bool LooksLikePeFile(const std::uint8_t* file, std::size_t size) {
  if (size < pe::kDosHeaderSize || std::memcmp(file, pe::kDosSignature, 2) != 0) return false;
  const std::uint64_t signature = U32(file + pe::kNewHeaderOffset);
  return signature + 4 <= size && std::memcmp(file + signature, pe::kPeSignature, 4) == 0;
}

std::uint64_t VirtualSpan(const PeSection& s, std::uint32_t sectionAlignment) {
  const std::uint64_t size = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
  return AlignUp(size, sectionAlignment);
}

bool CheckPeLayout(const std::uint8_t* file, std::size_t size, PeLayout* layout,
                   std::string* why) {
  const std::uint64_t total = size;
  auto has = [&](std::uint64_t at, std::uint64_t n) { return at <= total && n <= total - at; };
  PeLayout& h = *layout;
  const PeFault fault = ReadPeHeaders(file, size, &h, why);
  if (fault == PeFault::kNoDosHeader || fault == PeFault::kNoSignature) return false;
  if (fault == PeFault::kOptionalOutside || fault == PeFault::kUnknownMagic || h.pe32Plus ||
      h.optionalSize < pe::kDirectoriesPe32 + pe::kDirectoryCount * pe::kDirectoryEntrySize ||
      h.directoryCount < static_cast<std::uint32_t>(pe::kDirectoryCount)) {
    return Fail(why, "not a 32-bit PE image (PE32 optional header with 16 data directories "
                     "expected)");
  }
  if (!PowerOfTwo(h.fileAlignment) || !PowerOfTwo(h.sectionAlignment)) {
    return Fail(why, "PE optional header with alignments that are no power of two");
  }
  // A section table outside the file (kSectionTableOutside) fails here too.
  const std::uint64_t tableEnd =
      h.sectionTable + std::uint64_t{h.sectionCount} * pe::kSectionHeaderSize;
  if (tableEnd > h.sizeOfHeaders || h.sizeOfHeaders > total) {
    return Fail(why, "the section table (ending at " + std::to_string(tableEnd) +
                         ") and SizeOfHeaders (" + std::to_string(h.sizeOfHeaders) +
                         ") do not lie inside the headers and the file");
  }

  std::uint64_t rawEnd = h.sizeOfHeaders;
  std::uint64_t virtualEnd = h.sizeOfHeaders;
  for (std::size_t i = 0; i < h.sections.size(); ++i) {
    const PeSection& s = h.sections[i];
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
  }
  if (virtualEnd > h.sizeOfImage) {
    return Fail(why, "the sections end at " + std::to_string(virtualEnd) +
                         " in memory, past SizeOfImage (" + std::to_string(h.sizeOfImage) + ")");
  }
  // An empty directory names no bytes; the others lie in the headers or in
  // one section, where the loader maps them.
  for (int d = 0; d < pe::kDirectoryCount; ++d) {
    if (h.directorySize[d] == 0) continue;
    const std::uint64_t end = std::uint64_t{h.directoryRva[d]} + h.directorySize[d];
    if (d == pe::kCertificateDirectory) {
      if (h.directoryRva[d] < rawEnd || end > total) {
        return Fail(why, "the certificate table " + std::to_string(h.directoryRva[d]) + " + " +
                             std::to_string(h.directorySize[d]) +
                             " does not lie in the file behind the sections");
      }
    } else if (end > h.sizeOfHeaders &&
               SectionHolding(h, h.directoryRva[d], h.directorySize[d]) < 0) {
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
