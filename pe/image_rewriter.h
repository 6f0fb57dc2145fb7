// Gives a finished PE32 executable a new resource section, without a
// linker: the bytes of a setup executable are the launcher stub's with its
// resource section rebuilt around the payload's archives. The new section
// is written as a stream, front to back, into a byte sink; the headers take
// their final bytes once every size is known.
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
#include <string>
#include <vector>

#include "bytes/byte_sink.h"
#include "pe/pe_headers.h"

namespace kv {

// Where the stub's resource section is and what follows it.
struct StubLayout {
  std::uint32_t resourceRva = 0;  // virtual address of ".rsrc"
  PeLayout headers;               // as CheckPeLayout read them
  int resource = -1;              // index of ".rsrc" in headers.sections
  int reloc = -1;                 // index of ".reloc", or -1
};

// Checks that `stub` is a PE32 image kvpack can rebuild: a sound layout
// (CheckPeLayout), a resource section whose start the resource data
// directory names, followed by nothing or by ".reloc" alone, no COFF symbol
// table, and nothing in the file after the last section but a certificate
// table. False with a one-line *error otherwise.
bool InspectStub(const std::vector<std::uint8_t>& stub, StubLayout* layout, std::string* error);

// The largest SizeOfImage of a setup executable. A 32-bit process maps
// the whole image into one free range of its address space, beside the
// system's DLLs; the launcher needs little on top. Under Wine the largest
// image that ran to the second stage was 0x7C000000 bytes, and 2000 MiB
// failed (bench/image_limit.py). The stub is marked large-address-aware,
// which on 64-bit Windows gives the process the range above 2 GiB as well.
inline constexpr std::uint64_t kMaxSetupImage = 0x7C000000;

// Writes a setup executable made from the stub into a sink, front to back:
// Prepare takes what it needs of the stub, Begin leaves room for the stub's
// headers and the sections before its resource section, the writer itself
// is the sink of the new resource section (its offsets count from the
// section's start), and Finish pads the section to the file alignment,
// moves ".reloc" behind it and writes the headers:
//   - the section table, data directories 2 (resources) and 5 (base
//     relocations), SizeOfImage and SizeOfInitializedData brought up to
//     date; a certificate table (data directory 4) dropped, since the
//     signature no longer matches, and signing is the publisher's last step;
//   - the COFF header's time stamp set to the given value;
//   - the optional header's CheckSum (pe_checksum.h), from the sum of every
//     word written, kept as the bytes go by (WriteAt reads back the bytes it
//     replaces), so the file is never read back whole.
// Every call returns false with *error when the sink fails; Finish also
// when the image would be larger than kMaxSetupImage (the message gives
// both figures).
class SetupImageWriter final : public ByteSink {
 public:
  // Takes what it needs of the stub, which passed InspectStub with
  // `layout`; ImageSize works from then on.
  bool Prepare(const std::vector<std::uint8_t>& stub, const StubLayout& layout,
               std::string* error);
  // `out` is empty.
  bool Begin(ByteSink* out, std::string* error);
  // The resource section as a sink.
  bool Append(const std::uint8_t* data, std::size_t count, std::string* error) override;
  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count,
               std::string* error) override;
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count,
              std::string* error) override;
  std::uint64_t Size() const override { return out_->Size() - head_.size(); }
  bool Finish(std::uint32_t timeStamp, std::string* error);

  // The SizeOfImage of the result with a resource section of this size.
  std::uint64_t ImageSize(std::uint64_t sectionSize) const;

 private:
  ByteSink* out_ = nullptr;
  std::vector<std::uint8_t> head_;   // the stub's bytes before its resource section
  std::vector<std::uint8_t> reloc_;  // the .reloc section's raw bytes
  bool hasReloc_ = false;
  std::uint32_t relocVirtualSize_ = 0;
  std::size_t pe_ = 0, optional_ = 0, rsrcHeader_ = 0, relocHeader_ = 0;
  std::size_t resourceDirectory_ = 0, relocDirectory_ = 0, certificateDirectory_ = 0;
  std::uint32_t fileAlignment_ = 1, sectionAlignment_ = 1, resourceRva_ = 0, oldRaw_ = 0;
  std::uint64_t sum_ = 0;  // of the words written, CheckSum field as 0
};

}  // namespace kv
