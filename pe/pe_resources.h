// Reads resources out of the bytes of a Windows executable file (PE32 or
// PE32+), without loading it: the host packer lists and verifies a Setup.exe
// with it, and the second stage reads the archives left for it from the
// launcher's file. Portable (no Win32), bounds-checked throughout. The
// headers come from ReadPeHeaders; the tree's layout is in pe_format.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pe/pe_headers.h"

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
