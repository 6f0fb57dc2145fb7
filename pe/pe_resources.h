// Reads resources out of the bytes of a Windows executable file (PE32 or
// PE32+), without loading it: the host packer lists and verifies a Setup.exe
// with it, and the second stage reads the archives left for it from the
// launcher's file. Portable (no Win32), bounds-checked throughout.
//
// Where the resources are, in the file:
//   0x3C            offset of the "PE\0\0" signature (e_lfanew)
//   e_lfanew + 4    COFF header (20 bytes): section count at +2, size of the
//                   optional header at +16
//   e_lfanew + 24   optional header: magic 0x10B (PE32) or 0x20B (PE32+);
//                   data directory 2 (resources: RVA, size) at +112 (PE32) or
//                   +128 (PE32+), if the directory count at +92 / +108 allows
//   then            section table, 40 bytes a section: virtual size at +8,
//                   virtual address at +12, raw size at +16, raw offset at +20
// The resource tree has three levels (type, name, language). Each directory
// is 16 bytes (named entry count at +12, id entry count at +14) followed by
// 8-byte entries: name word (high bit set: offset of a UTF-16 string
// "length, characters" from the tree's start; else a 16-bit id) and offset
// word (high bit set: a subdirectory; else a 16-byte data entry holding the
// data's RVA and size). Offsets inside the tree count from its start; the
// data RVA is mapped to the file through the section table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Most resources FindPeResources takes from one file: a setup carries a
// few dozen; a tree that names more is damaged.
inline constexpr std::size_t kMaxPeResources = 4096;

// One resource found in the file. data points into the caller's buffer.
struct PeResource {
  // The resource's type, written like its name (a string, or "#<id>").
  std::string type;
  // The resource's name: a string name as stored (UTF-16 characters below
  // 256 taken as bytes, others as '?'), or "#<id>" for a numeric name.
  std::string name;
  std::uint16_t language = 0;
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
  std::uint32_t fileOffset = 0;  // where data starts in the file
};

// True when the bytes start like a PE file: "MZ", and e_lfanew points at
// "PE\0\0" inside the buffer. Says nothing about the rest of the file.
bool LooksLikePeFile(const std::uint8_t* file, std::size_t size);

// Finds every resource of the given type in the PE file held in
// file[0, size). type is a string type name compared case-insensitively
// (ASCII), or "#<number>" for a numeric type; an empty type takes every
// type. Resources come in the order of
// the resource directory (by type, then name, then language). A file without a
// resource directory, or without that type, gives an empty list.
// Returns false with a one-line *error when the file is not a PE file or any
// header, section, directory, name, data entry or data range it needs lies
// outside the buffer or outside its section's bytes in the file, when a
// directory or data entry is reached twice (a tree that folds back on
// itself), a language entry is not a data entry (a tree deeper than three
// levels), the tree holds more than kMaxPeResources resources, or the
// string names read add up to more characters than the tree has bytes (so
// time, memory and any listing stay in proportion to the file); *out then
// holds what was found before. Names in *error are shown with PrintableText.
// Never reads outside file[0, size); each part of the tree is read once.
// Throws only std::bad_alloc.
bool FindPeResources(const std::uint8_t* file, std::size_t size, std::string_view type,
                     std::vector<PeResource>* out, std::string* error);

}  // namespace kv
