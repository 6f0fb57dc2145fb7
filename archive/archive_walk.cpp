#include "archive/archive_walk.h"

#include <cstring>

#include "archive/entry_extraction.h"
#include "archive/path_set.h"
#include "archive/unpack_error.h"

namespace kv {
namespace {

// The archive's bytes, or none when the resource is missing or cannot be
// loaded or locked. Resource data stays mapped for the life of the process.
bool FindArchive(HMODULE module, const char* name, const std::uint8_t** data, std::size_t* size) {
  HRSRC found = ::FindResourceA(module, name, kArchiveResourceType);
  if (!found) return false;
  HGLOBAL loaded = ::LoadResource(module, found);
  if (!loaded) return false;
  *data = static_cast<const std::uint8_t*>(::LockResource(loaded));
  *size = ::SizeofResource(module, found);
  return *data != nullptr;
}

void RefuseLength(const std::string& path, std::size_t limit, const char* what) {
  throw UnpackError(UnpackError::Kind::kPathTooLong, path,
                    std::string(what) + " is longer than " + std::to_string(limit) +
                        " characters");
}

// `path` and every folder above it that lies below `workFolder`.
void CheckPath(const std::string& path, std::size_t workFolderLength) {
  if (path.size() > kMaxTargetPath) RefuseLength(path, kMaxTargetPath, "the path");
  // The work folder itself is the first folder part (its backslash ends it).
  for (std::size_t cut = path.find('\\', workFolderLength - 1); cut != std::string::npos;
       cut = path.find('\\', cut + 1)) {
    if (cut > kMaxFolderPath) RefuseLength(path.substr(0, cut), kMaxFolderPath, "the folder path");
  }
}

}  // namespace

std::vector<PayloadArchive> ReadPayload(HMODULE module) {
  std::vector<PayloadArchive> payload;
  for (const char* const* name = kUnpackedArchives; *name; ++name) {
    PayloadArchive archive;
    archive.name = *name;
    if (!FindArchive(module, *name, &archive.data, &archive.size)) continue;
    archive.directory = ReadArchiveDirectory(archive.data, archive.size);
    if (!archive.directory.ok()) {
      throw UnpackError(UnpackError::Kind::kDamagedArchive, *name, archive.directory.error);
    }
    payload.push_back(std::move(archive));
  }
  return payload;
}

void CheckTargetPaths(const std::vector<PayloadArchive>& payload, const std::string& workFolder,
                      const std::string& extraFile) {
  if (workFolder.size() - 1 > kMaxFolderPath) {
    RefuseLength(workFolder.substr(0, workFolder.size() - 1), kMaxFolderPath, "the folder path");
  }
  if (!extraFile.empty()) CheckPath(extraFile, workFolder.size());
  for (const PayloadArchive& archive : payload) {
    for (const ArchiveEntry& entry : archive.directory.entries) {
      CheckPath(workFolder + entry.name, workFolder.size());
    }
  }
}

void UnpackArchives(const std::vector<PayloadArchive>& payload, const char* workFolder,
                    CreatedFolderList& folders, UnpackObserver& observer,
                    PausePoint* pauses) {
  // One engine, one block and one account of the folders for the whole
  // walk; the work folder (its path without the backslash) exists.
  const std::string root(workFolder, std::strlen(workFolder) - 1);
  ExtractionContext context(root);
  context.PauseAt(pauses);
  PathSet written;
  for (const PayloadArchive& archive : payload) {
    for (const ArchiveEntry& entry : archive.directory.entries) {
      const std::string target = std::string(workFolder) + entry.name;
      const bool again = !written.Insert(target);
      ExtractEntry(archive.data + entry.dataOffset, entry.compressedLength,
                   entry.uncompressedLength, target.c_str(), &folders,
                   again ? TargetFile::kWrittenBefore : TargetFile::kNew,
                   [&observer, again](const char* opened) { observer.FileOpened(opened, !again); },
                   &context);
      observer.EntryUnpacked(target.c_str());
    }
  }
}

}  // namespace kv
