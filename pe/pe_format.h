// The Windows image file (PE32 and PE32+) as bytes: where each header field
// that this project reads or writes lies. Every offset of a header field in
// the product is one of these names; pe_headers.cpp reads them, the writers
// write them. Integers are little-endian.
//
// The file:
//
//   0                 DOS header (64 bytes): "MZ" at 0, e_lfanew (u32) at 0x3C
//   e_lfanew          signature "PE\0\0"
//   e_lfanew + 4      COFF header (20 bytes)
//   e_lfanew + 24     optional header (SizeOfOptionalHeader bytes)
//   then              section table: one 40-byte header per section
//   SizeOfHeaders     the sections' raw bytes, each at a multiple of
//                     FileAlignment; behind the last section possibly a
//                     certificate table (its "address" is a file offset)
//
// COFF header, from the signature:
//
//   +4   u16  Machine
//   +6   u16  NumberOfSections
//   +8   u32  TimeDateStamp
//   +12  u32  PointerToSymbolTable
//   +16  u32  NumberOfSymbols
//   +20  u16  SizeOfOptionalHeader
//   +22  u16  Characteristics
//
// Optional header, from its start (PE32; PE32+ where it differs):
//
//   +0   u16  Magic: 0x10B PE32, 0x20B PE32+
//   +8   u32  SizeOfInitializedData
//   +32  u32  SectionAlignment
//   +36  u32  FileAlignment
//   +56  u32  SizeOfImage
//   +60  u32  SizeOfHeaders
//   +64  u32  CheckSum
//   +92  u32  NumberOfRvaAndSizes        (PE32+: +108)
//   +96  data directories, 8 bytes each  (PE32+: +112): RVA, size
//
// Data directories used: 2 resources, 4 certificates (file offset, size),
// 5 base relocations.
//
// Section header (40 bytes):
//
//   +0   8 bytes  Name, zero-padded
//   +8   u32      VirtualSize
//   +12  u32      VirtualAddress
//   +16  u32      SizeOfRawData
//   +20  u32      PointerToRawData
//
// Resource tree (in the section that data directory 2 names; offsets count
// from the tree's start): three levels of directories (type, name,
// language). A directory is 16 bytes, the count of named entries at +12 and
// of id entries at +14, followed by its 8-byte entries: a name word (high
// bit set: offset of a name "u16 length, UTF-16 characters"; else a 16-bit
// id) and an offset word (high bit set: a subdirectory; else a 16-byte data
// entry: the data's RVA at +0, its size at +4).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv::pe {

// DOS header.
inline constexpr std::size_t kDosHeaderSize = 0x40;
inline constexpr char kDosSignature[2] = {'M', 'Z'};
inline constexpr std::size_t kNewHeaderOffset = 0x3C;  // e_lfanew

// The signature, and the COFF header behind it, from the signature's start.
inline constexpr char kPeSignature[4] = {'P', 'E', '\0', '\0'};
inline constexpr std::size_t kSectionCount = 6;
inline constexpr std::size_t kTimeDateStamp = 8;
inline constexpr std::size_t kSymbolTable = 12;
inline constexpr std::size_t kSymbolCount = 16;
inline constexpr std::size_t kOptionalHeaderSize = 20;
inline constexpr std::size_t kOptionalHeader = 24;  // where the optional header starts

// Optional header, from its start.
inline constexpr std::size_t kMagic = 0;
inline constexpr std::uint16_t kPe32Magic = 0x10B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;
inline constexpr std::size_t kSizeOfInitializedData = 8;
inline constexpr std::size_t kSectionAlignment = 32;
inline constexpr std::size_t kFileAlignment = 36;
inline constexpr std::size_t kSizeOfImage = 56;
inline constexpr std::size_t kSizeOfHeaders = 60;
inline constexpr std::size_t kCheckSum = 64;
inline constexpr std::size_t kDirectoryCountPe32 = 92;
inline constexpr std::size_t kDirectoryCountPe32Plus = 108;
inline constexpr std::size_t kDirectoriesPe32 = 96;
inline constexpr std::size_t kDirectoriesPe32Plus = 112;

// Data directories: an RVA and a size each.
inline constexpr std::size_t kDirectoryEntrySize = 8;
inline constexpr std::size_t kDirectorySizeField = 4;
inline constexpr int kDirectoryCount = 16;  // the standard count
inline constexpr int kResourceDirectory = 2;
inline constexpr int kCertificateDirectory = 4;
inline constexpr int kRelocationDirectory = 5;

// Section header.
inline constexpr std::size_t kSectionHeaderSize = 40;
inline constexpr std::size_t kSectionNameSize = 8;
inline constexpr std::size_t kVirtualSize = 8;
inline constexpr std::size_t kVirtualAddress = 12;
inline constexpr std::size_t kRawSize = 16;
inline constexpr std::size_t kRawOffset = 20;

// Resource tree.
inline constexpr std::size_t kTreeDirectorySize = 16;
inline constexpr std::size_t kTreeNamedCount = 12;
inline constexpr std::size_t kTreeIdCount = 14;
inline constexpr std::size_t kTreeEntrySize = 8;
inline constexpr std::size_t kTreeEntryOffset = 4;  // the offset word, behind the name word
inline constexpr std::size_t kTreeDataEntrySize = 16;
inline constexpr std::size_t kTreeDataRva = 0;
inline constexpr std::size_t kTreeDataSize = 4;
inline constexpr std::uint32_t kTreeHighBit = 0x80000000u;  // named entry / subdirectory

// Little-endian fields.
inline std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

}  // namespace kv::pe
