#include "archive/archive_walk.h"

#include <set>

#include "archive/entry_extraction.h"
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

// Names compared as the file system does: without regard to case.
std::wstring FoldedName(const std::string& path) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()),
                                           nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (length > 0) {
    ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &wide[0], length);
    ::CharUpperBuffW(&wide[0], static_cast<DWORD>(length));
  }
  return wide;
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
                    CreatedFolderList& folders, UnpackObserver& observer) {
  std::set<std::wstring> written;
  for (const PayloadArchive& archive : payload) {
    for (const ArchiveEntry& entry : archive.directory.entries) {
      const std::string target = std::string(workFolder) + entry.name;
      const bool again = !written.insert(FoldedName(target)).second;
      ExtractEntry(archive.data + entry.dataOffset, entry.compressedLength,
                   entry.uncompressedLength, target.c_str(), &folders,
                   again ? TargetFile::kWrittenBefore : TargetFile::kNew,
                   [&observer](const char* created) { observer.FileCreated(created); });
      observer.EntryUnpacked(target.c_str());
    }
  }
}

}  // namespace kv
