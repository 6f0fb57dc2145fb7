#include "archive/archive_writer.h"

#include <zlib.h>

namespace kv {

namespace {

void AppendU32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool EntryFails(std::string_view name, const char* why, std::string* error) {
  *error = "entry \"" + PrintableText(name) + "\": " + why;
  return false;
}

}  // namespace

bool ArchiveWriter::Begin(ByteSink* sink, std::string* error) {
  sink_ = sink;
  start_ = sink->Size();
  count_ = 0;
  records_.clear();
  static const std::uint8_t kRoom[4] = {};  // D, once the directory's place is known
  if (!sink_->Append(kRoom, sizeof kRoom, error)) return false;
  entryStart_ = sink_->Size();
  return true;
}

bool ArchiveWriter::Append(const std::uint8_t* bytes, std::size_t count, std::string* error) {
  return sink_->Append(bytes, count, error);
}

bool ArchiveWriter::EndEntry(std::string_view name, std::uint32_t uncompressedLength,
                             const std::array<std::uint32_t, 3>& times, std::string* error) {
  const NameFault fault = ValidateEntryName(name);
  if (fault != NameFault::kNone) {
    *error = "entry \"" + PrintableText(name) + "\": name " + NameFaultText(fault);
    return false;
  }
  const std::uint64_t end = sink_->Size();
  const std::uint64_t offset = entryStart_ - start_;
  const std::uint64_t length = end - entryStart_;
  // The entries so far, N, the records so far and this one.
  if (end - start_ + 4 + records_.size() + kRecordFixedSize + name.size() > kMaxArchiveSize) {
    return EntryFails(name, "the archive would exceed 4 GiB - 1 bytes", error);
  }
  records_.push_back(static_cast<std::uint8_t>(name.size()));
  records_.insert(records_.end(), name.begin(), name.end());
  AppendU32(&records_, static_cast<std::uint32_t>(offset));
  AppendU32(&records_, static_cast<std::uint32_t>(length));
  AppendU32(&records_, uncompressedLength);
  for (std::uint32_t t : times) AppendU32(&records_, t);
  ++count_;
  entryStart_ = end;
  return true;
}

bool ArchiveWriter::Finish(std::string* error) {
  // Each entry ended kept the archive, directory included, within 4 GiB.
  const std::uint32_t directory = static_cast<std::uint32_t>(sink_->Size() - start_);
  std::vector<std::uint8_t> head;
  AppendU32(&head, count_);
  std::vector<std::uint8_t> word;
  AppendU32(&word, directory);
  return sink_->Append(head.data(), head.size(), error) &&
         sink_->Append(records_.data(), records_.size(), error) &&
         sink_->WriteAt(start_, word.data(), word.size(), error);
}

bool BuildArchiveFromStreams(const std::vector<PackedEntry>& entries,
                             std::vector<std::uint8_t>* image, std::string* error) {
  MemorySink sink;
  ArchiveWriter writer;
  if (!writer.Begin(&sink, error)) return false;
  for (const PackedEntry& entry : entries) {
    if (!writer.Append(entry.stream.data(), entry.stream.size(), error) ||
        !writer.EndEntry(entry.name, entry.uncompressedLength, entry.times, error)) {
      return false;
    }
  }
  if (!writer.Finish(error)) return false;
  *image = sink.Take();
  return true;
}

bool BuildArchive(const std::vector<PackEntry>& entries, std::vector<std::uint8_t>* image,
                  std::string* error) {
  MemorySink sink;
  ArchiveWriter writer;
  if (!writer.Begin(&sink, error)) return false;
  for (const PackEntry& entry : entries) {
    if (entry.bytes.size() > kMaxArchiveSize) {
      return EntryFails(entry.name, "larger than 4 GiB", error);
    }
    // compress2 with the default level writes the header 0x78 0x9C (32 KB
    // window, default level) and the Adler-32 trailer: one RFC 1950 stream.
    uLongf bound = compressBound(static_cast<uLong>(entry.bytes.size()));
    std::vector<std::uint8_t> stream(bound);
    // Empty input still gets a complete stream; zlib wants a valid pointer.
    static const Bytef kNothing = 0;
    const Bytef* source = entry.bytes.empty() ? &kNothing : entry.bytes.data();
    if (compress2(stream.data(), &bound, source, static_cast<uLong>(entry.bytes.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
      return EntryFails(entry.name, "zlib could not compress it", error);
    }
    if (!writer.Append(stream.data(), bound, error) ||
        !writer.EndEntry(entry.name, static_cast<std::uint32_t>(entry.bytes.size()), entry.times,
                         error)) {
      return false;
    }
  }
  if (!writer.Finish(error)) return false;
  *image = sink.Take();
  return true;
}

}  // namespace kv
