// The one reader of a PE image's headers (pe_format.h names the fields): the
// DOS header, the signature, the COFF and optional headers, the data
// directories and the section table, read from bytes it is given and
// nothing beyond them, each bound checked here once. Everything in the
// project that needs a header field of an image file takes it from
// PeHeaders: the resource tree reader, the stub's check and rebuild, the
// read-back of a built setup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pe/pe_format.h"

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

// What ReadPeHeaders read. A field the optional header is too short to
// hold reads as 0.
struct PeHeaders {
  // COFF header.
  std::size_t pe = 0;             // offset of "PE\0\0"
  std::uint32_t symbolTable = 0;  // PointerToSymbolTable
  std::uint32_t symbolCount = 0;
  std::size_t optional = 0;       // offset of the optional header
  std::uint16_t optionalSize = 0;
  // Optional header.
  bool pe32Plus = false;
  std::uint32_t sizeOfInitializedData = 0, fileAlignment = 0, sectionAlignment = 0;
  std::uint32_t sizeOfHeaders = 0, sizeOfImage = 0, checkSum = 0;
  std::uint32_t directoryCount = 0;  // NumberOfRvaAndSizes as stored
  // The first 16 data directories, as far as NumberOfRvaAndSizes and the
  // optional header's size hold them; the others 0.
  std::uint32_t directoryRva[pe::kDirectoryCount] = {};
  std::uint32_t directorySize[pe::kDirectoryCount] = {};
  std::uint16_t sectionCount = 0;    // NumberOfSections as stored
  std::size_t sectionTable = 0;      // offset of the section table
  std::vector<PeSection> sections;   // in table order

  // File offsets of fields, for a writer that updates them.
  std::size_t Field(std::size_t optionalField) const { return optional + optionalField; }
  std::size_t Directory(int index) const;  // the directory's RVA word
};

// How far ReadPeHeaders got.
enum class PeFault {
  kNone = 0,
  kNoDosHeader,          // fewer than 64 bytes, or no "MZ"
  kNoSignature,          // no "PE\0\0" where e_lfanew points
  kOptionalOutside,      // the optional header (2 bytes at least) passes the file's end
  kUnknownMagic,         // neither PE32 nor PE32+
  kSectionTableOutside,  // the section table passes the file's end
};

// Reads the headers of the image in file[0, size). Returns kNone, or the
// first fault with one line in *why; the fields read before it are filled
// (all of them but the sections for kSectionTableOutside). Checks only that
// what it reads lies in the buffer; whether the image is laid out soundly is
// CheckPeLayout's. Never reads outside file[0, size).
PeFault ReadPeHeaders(const std::uint8_t* file, std::size_t size, PeHeaders* headers,
                      std::string* why);

// True when the bytes start like a PE file: "MZ", and e_lfanew points at
// "PE\0\0" inside the buffer. Says nothing about the rest of the file.
bool LooksLikePeFile(const std::uint8_t* file, std::size_t size);

// What CheckPeLayout read.
using PeLayout = PeHeaders;

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

// The bytes a section takes in memory: its virtual size (its raw size when
// that is 0) rounded up to the section alignment.
std::uint64_t VirtualSpan(const PeSection& section, std::uint32_t sectionAlignment);

// The index of the section whose virtual range holds [rva, rva + length),
// or -1.
int SectionHolding(const PeLayout& layout, std::uint64_t rva, std::uint64_t length);

}  // namespace kv
