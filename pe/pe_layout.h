// The layout of a PE32 image file as kvpack needs it to be sound before it
// rebuilds one (the launcher stub) and after (the setup it built): headers,
// section table, the sections' bytes in the file and in memory, and the
// data directories, all read from bytes it is given and nothing beyond them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// One entry of the section table.
struct PeSection {
  std::string name;  // up to 8 characters, as stored
  std::uint32_t virtualSize = 0;
  std::uint32_t virtualAddress = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t rawOffset = 0;
  std::size_t header = 0;  // file offset of its 40-byte header
};

// What CheckPeLayout read.
struct PeLayout {
  std::size_t pe = 0;             // offset of "PE\0\0"
  std::size_t optional = 0;       // offset of the optional header
  std::uint32_t fileAlignment = 0;
  std::uint32_t sectionAlignment = 0;
  std::uint32_t sizeOfHeaders = 0;
  std::uint32_t sizeOfImage = 0;
  std::uint32_t checksumOffset = 0;  // file offset of the optional header's CheckSum
  std::vector<PeSection> sections;   // in table order
  std::uint32_t directoryRva[16] = {};
  std::uint32_t directorySize[16] = {};
};

// Checks that file[0, size) is a PE32 image laid out soundly: "MZ" and a
// "PE" signature, a PE32 optional header with 16 data directories and
// power-of-two alignments, the section table inside SizeOfHeaders and
// SizeOfHeaders inside the file; every section's raw range inside the
// file, whatever its size fields say, and after the headers; the sections'
// virtual ranges (virtual size, or raw size when that is 0, rounded up to
// the section alignment) ascending without overlap, after the headers and
// inside SizeOfImage; every data directory that is not empty inside the
// headers or inside one section in memory, and the certificate table
// (whose address is a file offset) inside the file behind the sections'
// bytes. Fills *layout and returns true, or returns
// false with one line in *why. Reads nothing outside file[0, size).
bool CheckPeLayout(const std::uint8_t* file, std::size_t size, PeLayout* layout,
                   std::string* why);

// The index of the section whose virtual range holds [rva, rva + length),
// or -1.
int SectionHolding(const PeLayout& layout, std::uint64_t rva, std::uint64_t length);

}  // namespace kv
