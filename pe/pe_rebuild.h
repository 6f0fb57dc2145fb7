// Gives a finished PE32 executable a new resource section, without a
// linker: the bytes of a setup executable are the launcher stub's with its
// resource section rebuilt around the payload's archives. The new section
// is written as a stream, front to back, into the output file; its
// directory and the headers take their final bytes once every size is
// known.
//
// What changes in the stub's file:
//   - the ".rsrc" section is replaced by a new one at the same virtual
//     address, holding exactly the given resources (the old section's bytes
//     are gone from the file);
//   - a ".reloc" section that followed it moves behind the new one (its
//     contents do not depend on where it lies); no other section may follow;
//   - the headers are brought up to date (SetupImageWriter below).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bytes/byte_pieces.h"
#include "tools/kvpack/host/host_files.h"

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

// Where each resource of a new section goes, fixed by the items' types,
// names and languages alone (their data and sizes do not matter yet): the
// three directory levels (string names before ids, strings in ascending
// order of their UTF-16 code units, ids ascending, as the system's binary
// search needs), the data entries and the names, then each resource's bytes
// on an 8-byte boundary, in directory order. All directory time stamps are
// 0.
class ResourcePlan {
 public:
  // False with *error for two items with the same type, name and language.
  bool Plan(const std::vector<ResourceItem>& items, std::string* error);
  // Item indices in the order their data follow the directory.
  const std::vector<std::size_t>& DataOrder() const { return order_; }
  // Where the first resource's data may start: the directory's size,
  // rounded up to 8.
  std::uint32_t DataStart() const { return dataStart_; }
  // The section's first DataStart() bytes for a section at sectionRva whose
  // item i lies at offsets[i] (from the section's start) with sizes[i]
  // bytes.
  std::vector<std::uint8_t> Directory(std::uint32_t sectionRva,
                                      const std::vector<std::uint32_t>& offsets,
                                      const std::vector<std::uint32_t>& sizes) const;

 private:
  struct KeyLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  // type -> name -> language -> item index
  std::map<std::string, std::map<std::string, std::map<std::uint16_t, std::size_t>, KeyLess>,
           KeyLess>
      tree_;
  std::vector<std::size_t> order_;
  std::size_t leafStart_ = 0;
  std::size_t nameStart_ = 0;
  std::uint32_t dataStart_ = 0;
};

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

// The largest SizeOfImage of a setup executable. A 32-bit process maps
// the whole image into one free range of its address space, beside the
// system's DLLs; the launcher needs little on top. Under Wine the largest
// image that ran to the second stage was 0x7C000000 bytes, and 2000 MiB
// failed (bench/image_limit.py). The stub is marked large-address-aware,
// which on 64-bit Windows gives the process the range above 2 GiB as well.
inline constexpr std::uint64_t kMaxSetupImage = 0x7C000000;

// Writes a setup executable made from the stub into `out`, front to back:
// Prepare reads the stub's layout, Begin leaves room for the stub's headers and the sections before its
// resource section, Append adds the new resource section's bytes,
// PatchZeros writes over section bytes that were appended as zeros (its
// directory), and Finish pads the section to the file alignment, moves
// ".reloc" behind it and writes the headers:
//   - the section table, data directories 2 (resources) and 5 (base
//     relocations), SizeOfImage and SizeOfInitializedData brought up to
//     date; a certificate table (data directory 4) dropped, since the
//     signature no longer matches, and signing is the publisher's last step;
//   - the COFF header's time stamp set to the given value;
//   - the optional header's CheckSum, as the system's CheckSumMappedFile
//     computes it over the file, from the sum of every word written (kept
//     as the bytes go by, so the file is never read back).
// Every call returns false with *error when the file cannot be written;
// Finish also when the image would be larger than kMaxSetupImage (the
// message gives both figures).
class SetupImageWriter {
 public:
  // Takes what it needs of the stub, which passed InspectStub with
  // `layout`; ImageSize works from then on.
  bool Prepare(const std::vector<std::uint8_t>& stub, const StubLayout& layout,
               std::string* error);
  // `out` was just created.
  bool Begin(OutputFile* out, std::string* error);
  bool Append(const std::uint8_t* data, std::size_t count, std::string* error);
  bool PatchZeros(std::uint64_t sectionOffset, const std::uint8_t* data, std::size_t count,
                  std::string* error);
  bool Finish(std::uint32_t timeStamp, std::string* error);
  // Reads back bytes of the resource section written before.
  bool ReadSection(std::uint64_t sectionOffset, std::uint8_t* data, std::size_t count,
                   std::string* error) {
    return out_->ReadAt(head_.size() + sectionOffset, data, count, error);
  }

  // Bytes of the resource section appended so far.
  std::uint64_t SectionSize() const { return out_->Size() - head_.size(); }
  // The SizeOfImage of the result with a resource section of this size.
  std::uint64_t ImageSize(std::uint64_t sectionSize) const;

 private:
  OutputFile* out_ = nullptr;
  std::vector<std::uint8_t> head_;   // the stub's bytes before its resource section
  std::vector<std::uint8_t> reloc_;  // the .reloc section's raw bytes
  bool hasReloc_ = false;
  std::uint32_t relocVirtualSize_ = 0;
  std::size_t pe_ = 0, optional_ = 0, rsrcHeader_ = 0, relocHeader_ = 0;
  std::size_t resourceDirectory_ = 0, relocDirectory_ = 0, certificateDirectory_ = 0;
  std::uint32_t fileAlignment_ = 1, sectionAlignment_ = 1, resourceRva_ = 0, oldRaw_ = 0;
  std::uint64_t sum_ = 0;  // of the words written, CheckSum field as 0
};

// What `count` bytes at file offset `offset` add to the sum of a file's
// 16-bit little-endian words (a byte at an even offset is a word's low
// byte, one at an odd offset its high byte). Sums of pieces add up to the
// sum of the whole.
std::uint64_t WordSum(std::uint64_t offset, const std::uint8_t* data, std::size_t count);

// The PE checksum from the sum of a file's words (its CheckSum field
// counted as 0) and the file's length: the sum folded to 16 bits with
// end-around carry, plus the length.
std::uint32_t FoldChecksum(std::uint64_t wordSum, std::uint64_t fileSize);

// The PE checksum of an image file whose CheckSum field is at
// checksumOffset: the 16-bit one's-complement-style sum of every word of the
// file (the field itself counted as 0, an odd last byte as a word of its
// own), folded to 16 bits, plus the file's length.
std::uint32_t PeChecksum(const std::vector<std::uint8_t>& file, std::size_t checksumOffset);
// The same over file[0, size), read in pieces of 64 MiB borrowed from lend
// (when given). False when a piece cannot be had.
bool PeChecksum(const std::uint8_t* file, std::size_t size, std::size_t checksumOffset,
                const PieceLender& lend, std::uint32_t* checksum);

}  // namespace kv
