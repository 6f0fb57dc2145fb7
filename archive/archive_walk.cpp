#include "archive/archive_walk.h"

#include <cstdint>
#include <string>

#include "archive/archive_format.h"
#include "archive/entry_extraction.h"
#include "archive/unpack_error.h"

namespace kv {
namespace {

// Longest target path the file calls take (MAX_PATH less the terminator).
constexpr size_t kMaxTargetPath = MAX_PATH - 1;

// The archive's bytes, or none when the resource is missing or cannot be
// loaded or locked. Resource data stays mapped for the life of the process.
bool FindArchive(HMODULE module, const char* name, const uint8_t** data, size_t* size) {
  HRSRC found = ::FindResourceA(module, name, kArchiveResourceType);
  if (!found) return false;
  HGLOBAL loaded = ::LoadResource(module, found);
  if (!loaded) return false;
  *data = static_cast<const uint8_t*>(::LockResource(loaded));
  *size = ::SizeofResource(module, found);
  return *data != nullptr;
}

}  // namespace

void UnpackArchives(HMODULE module, const char* workFolder, CreatedFolderList& folders,
                    UnpackObserver& observer) {
  for (const char* const* name = kUnpackedArchives; *name; ++name) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!FindArchive(module, *name, &data, &size)) continue;

    const ArchiveDirectory directory = ReadArchiveDirectory(data, size);
    if (!directory.ok()) {
      throw UnpackError(UnpackError::Kind::kDamagedArchive, *name, directory.error);
    }
    for (const ArchiveEntry& entry : directory.entries) {
      const std::string target = std::string(workFolder) + entry.name;
      if (target.size() > kMaxTargetPath) {
        throw UnpackError(UnpackError::Kind::kPathTooLong, target,
                          "the path is longer than " + std::to_string(kMaxTargetPath) +
                              " characters");
      }
      ExtractEntry(data + entry.dataOffset, entry.compressedLength, entry.uncompressedLength,
                   target.c_str(), &folders, [&observer](const char* created) {
                     observer.FileCreated(created);
                   });
      observer.EntryUnpacked(target.c_str());
    }
  }
}

}  // namespace kv
