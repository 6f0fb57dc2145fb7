// Feeds arbitrary bytes to the archive reader, the entry checker and the PE
// resource reader: none may read outside the buffer or crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kv::ArchiveDirectory dir = kv::ReadArchiveDirectory(data, size);
  if (dir.ok()) {
    for (const kv::ArchiveEntry& e : dir.entries) {
      // Bounded, so a small input that claims gigabytes stays quick.
      if (e.uncompressedLength > (1u << 20)) continue;
      std::string error;
      kv::InflateEntry(data + e.dataOffset, e.compressedLength, e.uncompressedLength, nullptr,
                       &error);
    }
  }
  std::vector<kv::PeResource> found;
  std::string error;
  if (kv::FindPeResources(data, size, "KVARC", &found, &error)) {
    for (const kv::PeResource& r : found) {
      kv::ReadArchiveDirectory(r.data, r.size);
    }
  }
  return 0;
}
