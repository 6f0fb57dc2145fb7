// Gives a finished PE32 executable a new resource section, without a
// linker: the bytes of a setup executable are the launcher stub's with its
// resource section rebuilt around the payload's archives.
//
// What changes in the stub's file:
//   - the ".rsrc" section is replaced by a new one at the same virtual
//     address, holding exactly the given resources (the old section's bytes
//     are gone from the file);
//   - a ".reloc" section that followed it moves behind the new one (its
//     contents do not depend on where it lies); no other section may follow;
//   - the section table, data directories 2 (resources) and 5 (base
//     relocations), SizeOfImage and SizeOfInitializedData are brought up to
//     date; a certificate table (data directory 4) is dropped, since the
//     signature no longer matches, and signing is the publisher's last step;
//   - the COFF header's time stamp is set to the given value;
//   - the optional header's CheckSum is computed last, as the system's
//     CheckSumMappedFile computes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// One resource of the new section. type and name: a string ("KVARC"; stored
// in upper case, as resource compilers do) or "#<id>".
struct ResourceItem {
  std::string type;
  std::string name;
  std::uint16_t language = 0;
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
};

// Lays out a resource section whose first byte will be at sectionRva: the
// three directory levels (string names before ids, strings in ascending
// order of their UTF-16 code units, ids ascending, as the system's binary
// search needs), the data entries, the names, then each resource's bytes on
// an 8-byte boundary. All directory time stamps are 0. Items with the same
// type, name and language are refused. False with *error.
bool BuildResourceSection(const std::vector<ResourceItem>& items, std::uint32_t sectionRva,
                          std::vector<std::uint8_t>* section, std::string* error);

// Where the stub's resource section is and what it may be replaced with.
struct StubLayout {
  std::uint32_t resourceRva = 0;  // virtual address of ".rsrc"
};

// Checks that `stub` is a PE32 image kvpack can rebuild: a resource
// section whose start the resource data directory names, followed by
// nothing or by ".reloc" alone, no COFF symbol table, and nothing in the
// file after the last section but a certificate table. False with a one-line
// *error otherwise.
bool InspectStub(const std::vector<std::uint8_t>& stub, StubLayout* layout, std::string* error);

// Writes into *out the stub with `section` (from BuildResourceSection at
// layout.resourceRva) as its resource section, the time stamp and a fresh
// checksum, as described above. False with *error when the result would not
// fit the format's 32-bit sizes.
bool ReplaceResourceSection(const std::vector<std::uint8_t>& stub, const StubLayout& layout,
                            const std::vector<std::uint8_t>& section, std::uint32_t timeStamp,
                            std::vector<std::uint8_t>* out, std::string* error);

// The PE checksum of an image file whose CheckSum field is at
// checksumOffset: the 16-bit one's-complement-style sum of every word of the
// file (the field itself counted as 0, an odd last byte as a word of its
// own), folded to 16 bits, plus the file's length.
std::uint32_t PeChecksum(const std::vector<std::uint8_t>& file, std::size_t checksumOffset);
std::uint32_t PeChecksum(const std::uint8_t* file, std::size_t size, std::size_t checksumOffset);

}  // namespace kv
