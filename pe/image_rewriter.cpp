#include "pe/image_rewriter.h"

#include <algorithm>

#include "archive/archive_format.h"
#include "pe/pe_checksum.h"
#include "pe/pe_format.h"

namespace kv {

namespace {

using pe::Put32;
using pe::U32;

std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

bool FindSections(const PeLayout& h, StubLayout* s, std::string* error) {
  const std::uint32_t rsrcRva = h.directoryRva[pe::kResourceDirectory];
  for (std::size_t i = 0; i < h.sections.size(); ++i) {
    if (h.sections[i].virtualAddress == rsrcRva && rsrcRva != 0) s->resource = static_cast<int>(i);
  }
  if (s->resource < 0) {
    *error = "the executable has no resource section where its resource directory points";
    return false;
  }
  for (std::size_t i = static_cast<std::size_t>(s->resource) + 1; i < h.sections.size(); ++i) {
    const std::string& name = h.sections[i].name;
    if (name == ".reloc" && s->reloc < 0 && static_cast<int>(i) == s->resource + 1) {
      s->reloc = static_cast<int>(i);
    } else {
      *error = "section " + name + " follows the resource section; only .reloc may";
      return false;
    }
  }
  return true;
}

bool Overlaps(std::uint64_t a, std::uint64_t aEnd, std::uint64_t b, std::uint64_t bEnd) {
  return a < bEnd && b < aEnd;
}

// What the rebuild itself relies on, beyond a sound layout: it keeps the
// file up to the resource section's first byte, writes the new section
// there and .reloc behind it, and leaves every other byte and address as it
// was. So nothing but .reloc may have bytes behind the resource section,
// and no data directory but the resources' and the relocations' may point
// into the two sections that change.
bool CheckRebuildable(const PeLayout& pe, const StubLayout& s, std::string* error) {
  const PeSection& rsrc = pe.sections[static_cast<std::size_t>(s.resource)];
  if (rsrc.rawOffset < pe.sizeOfHeaders) {
    *error = "the resource section starts at " + std::to_string(rsrc.rawOffset) +
             ", inside the headers (" + std::to_string(pe.sizeOfHeaders) + " bytes)";
    return false;
  }
  for (std::size_t i = 0; i < pe.sections.size(); ++i) {
    const PeSection& other = pe.sections[i];
    if (static_cast<int>(i) == s.resource || other.rawSize == 0) continue;
    const std::uint64_t end = std::uint64_t{other.rawOffset} + other.rawSize;
    if (static_cast<int>(i) == s.reloc) {
      // The rebuild places .reloc in memory by its virtual size; the loader
      // takes the raw size where that is 0.
      if (other.virtualSize == 0) {
        *error = "section .reloc has a virtual size of 0";
        return false;
      }
      if (other.rawOffset < std::uint64_t{rsrc.rawOffset} + rsrc.rawSize) {
        *error = "section .reloc has bytes before the end of the resource section's";
        return false;
      }
    } else if (end > rsrc.rawOffset) {
      *error = "section " + PrintableText(other.name) +
               " has bytes behind the start of the resource section's; they would be lost";
      return false;
    }
  }
  auto span = [&](const PeSection& sec) {
    return std::pair<std::uint64_t, std::uint64_t>(
        sec.virtualAddress, sec.virtualAddress + VirtualSpan(sec, pe.sectionAlignment));
  };
  const auto rsrcSpan = span(rsrc);
  const auto relocSpan = s.reloc >= 0 ? span(pe.sections[static_cast<std::size_t>(s.reloc)])
                                      : std::pair<std::uint64_t, std::uint64_t>(0, 0);
  for (int d = 0; d < pe::kDirectoryCount; ++d) {
    if (d == pe::kResourceDirectory || d == pe::kCertificateDirectory ||
        pe.directorySize[d] == 0) {
      continue;
    }
    const std::uint64_t start = pe.directoryRva[d];
    const std::uint64_t end = start + pe.directorySize[d];
    if (d == pe::kRelocationDirectory && s.reloc >= 0) {
      if (start != relocSpan.first) {
        *error = "the base relocations do not start where section .reloc does";
        return false;
      }
      continue;
    }
    if (Overlaps(start, end, rsrcSpan.first, rsrcSpan.second) ||
        Overlaps(start, end, relocSpan.first, relocSpan.second)) {
      *error = "data directory " + std::to_string(d) +
               " points into the resource or relocation section, which the rebuild replaces";
      return false;
    }
  }
  return true;
}

}  // namespace

bool InspectStub(const std::vector<std::uint8_t>& stub, StubLayout* layout, std::string* error) {
  *layout = StubLayout{};
  PeLayout& pe = layout->headers;
  if (!CheckPeLayout(stub.data(), stub.size(), &pe, error)) return false;
  if (pe.symbolTable != 0 || pe.symbolCount != 0) {
    *error = "the executable carries a COFF symbol table; link it stripped";
    return false;
  }
  if (!FindSections(pe, layout, error) || !CheckRebuildable(pe, *layout, error)) return false;
  // CheckPeLayout found every section's bytes inside the file.
  std::uint64_t fileEnd = 0;
  for (const PeSection& s : pe.sections) {
    if (s.rawSize != 0) fileEnd = std::max(fileEnd, std::uint64_t{s.rawOffset} + s.rawSize);
  }
  if (fileEnd < stub.size() && pe.directoryRva[pe::kCertificateDirectory] == 0) {
    *error = std::to_string(stub.size() - fileEnd) +
             " bytes follow the last section; they would be lost";
    return false;
  }
  layout->resourceRva = pe.sections[static_cast<std::size_t>(layout->resource)].virtualAddress;
  return true;
}

bool SetupImageWriter::Prepare(const std::vector<std::uint8_t>& stub, const StubLayout& layout,
                               std::string* error) {
  const PeLayout& h = layout.headers;
  if (layout.resource < 0 || static_cast<std::size_t>(layout.resource) >= h.sections.size()) {
    *error = "the stub was not inspected";
    return false;
  }
  const PeSection& rsrc = h.sections[static_cast<std::size_t>(layout.resource)];
  if (rsrc.rawOffset > stub.size()) {
    *error = "the stub is not the one inspected";
    return false;
  }
  head_.assign(stub.begin(), stub.begin() + rsrc.rawOffset);
  reloc_.clear();
  relocVirtualSize_ = 0;
  hasReloc_ = layout.reloc >= 0;
  relocHeader_ = 0;
  if (hasReloc_) {
    const PeSection& reloc = h.sections[static_cast<std::size_t>(layout.reloc)];
    if (std::uint64_t{reloc.rawOffset} + reloc.rawSize > stub.size()) {
      *error = "the stub is not the one inspected";
      return false;
    }
    reloc_.assign(stub.begin() + reloc.rawOffset, stub.begin() + reloc.rawOffset + reloc.rawSize);
    relocVirtualSize_ = reloc.virtualSize;
    relocHeader_ = reloc.header;
  }
  pe_ = h.pe;
  optional_ = h.optional;
  rsrcHeader_ = rsrc.header;
  resourceDirectory_ = h.Directory(pe::kResourceDirectory);
  relocDirectory_ = h.Directory(pe::kRelocationDirectory);
  certificateDirectory_ = h.Directory(pe::kCertificateDirectory);
  fileAlignment_ = h.fileAlignment;
  sectionAlignment_ = h.sectionAlignment;
  resourceRva_ = layout.resourceRva;
  oldRaw_ = rsrc.rawSize;
  return true;
}

bool SetupImageWriter::Begin(ByteSink* out, std::string* error) {
  out_ = out;
  sum_ = 0;
  // The headers and the sections before the resource section take their
  // final bytes in Finish; zeros hold their place (and add nothing to the
  // checksum's sum).
  const std::vector<std::uint8_t> zeros(head_.size(), 0);
  return out_->Append(zeros.data(), zeros.size(), error);
}

std::uint64_t SetupImageWriter::ImageSize(std::uint64_t sectionSize) const {
  std::uint64_t end = resourceRva_ + AlignUp(std::max<std::uint64_t>(sectionSize, 1), sectionAlignment_);
  if (hasReloc_) end += AlignUp(std::max<std::uint32_t>(relocVirtualSize_, 1), sectionAlignment_);
  return end;
}

bool SetupImageWriter::Append(const std::uint8_t* data, std::size_t count, std::string* error) {
  sum_ += WordSum(out_->Size(), data, count);
  return out_->Append(data, count, error);
}

bool SetupImageWriter::WriteAt(std::uint64_t sectionOffset, const std::uint8_t* data,
                               std::size_t count, std::string* error) {
  const std::uint64_t at = head_.size() + sectionOffset;
  std::vector<std::uint8_t> old(count);
  if (!out_->ReadAt(at, old.data(), count, error)) return false;
  sum_ -= WordSum(at, old.data(), count);
  sum_ += WordSum(at, data, count);
  return out_->WriteAt(at, data, count, error);
}

bool SetupImageWriter::ReadAt(std::uint64_t sectionOffset, std::uint8_t* data, std::size_t count,
                              std::string* error) {
  return out_->ReadAt(head_.size() + sectionOffset, data, count, error);
}

bool SetupImageWriter::Finish(std::uint32_t timeStamp, std::string* error) {
  const std::uint64_t sectionSize = Size();
  const std::uint64_t newRaw = AlignUp(sectionSize, fileAlignment_);
  const std::uint64_t imageEnd = ImageSize(sectionSize);
  if (imageEnd > kMaxSetupImage) {
    *error = "the setup executable would need an image of " + std::to_string(imageEnd) +
             " bytes; a 32-bit Windows process maps at most " + std::to_string(kMaxSetupImage);
    return false;
  }
  const std::vector<std::uint8_t> padding(static_cast<std::size_t>(newRaw - sectionSize), 0);
  if (!Append(padding.data(), padding.size(), error)) return false;
  const std::uint64_t relocRawStart = out_->Size();
  if (!Append(reloc_.data(), reloc_.size(), error)) return false;

  std::uint8_t* f = head_.data();
  const std::uint64_t rsrcVirtualEnd =
      resourceRva_ + AlignUp(std::max<std::uint64_t>(sectionSize, 1), sectionAlignment_);
  Put32(f + rsrcHeader_ + pe::kVirtualSize, static_cast<std::uint32_t>(sectionSize));
  Put32(f + rsrcHeader_ + pe::kRawSize, static_cast<std::uint32_t>(newRaw));
  Put32(f + resourceDirectory_ + pe::kDirectorySizeField, static_cast<std::uint32_t>(sectionSize));
  if (hasReloc_) {
    Put32(f + relocHeader_ + pe::kVirtualAddress, static_cast<std::uint32_t>(rsrcVirtualEnd));
    Put32(f + relocHeader_ + pe::kRawOffset, static_cast<std::uint32_t>(relocRawStart));
    Put32(f + relocDirectory_, static_cast<std::uint32_t>(rsrcVirtualEnd));
  }
  // The signature covered the old file; the publisher signs the new one.
  Put32(f + certificateDirectory_, 0);
  Put32(f + certificateDirectory_ + pe::kDirectorySizeField, 0);
  Put32(f + optional_ + pe::kSizeOfImage, static_cast<std::uint32_t>(imageEnd));
  const std::uint32_t initialized = U32(f + optional_ + pe::kSizeOfInitializedData);
  Put32(f + optional_ + pe::kSizeOfInitializedData,
        static_cast<std::uint32_t>(initialized - oldRaw_ + newRaw));
  Put32(f + pe_ + pe::kTimeDateStamp, timeStamp);
  Put32(f + optional_ + pe::kCheckSum, 0);
  sum_ += WordSum(0, f, head_.size());
  Put32(f + optional_ + pe::kCheckSum, FoldChecksum(sum_, out_->Size()));
  return out_->WriteAt(0, f, head_.size(), error);
}

}  // namespace kv
