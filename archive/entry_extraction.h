// Unpacking one archive entry to its file below the work folder.
#pragma once

#include <functional>

#include "launcher/folder_path.h"

namespace kv {

// Writes the entry whose zlib stream is the `compressedLength` bytes at
// `data` to `targetPath` (the work folder path followed by the entry name),
// creating the missing folders of the path first and recording each created
// folder in `folders` (Part of the cleanup: see CreatedFolderList).
// The file is created anew, or an existing one truncated, with no sharing;
// it receives the inflated bytes in writes of up to 64 KiB.
//
// Throws:
// - ZkStreamException* (pointer form) from the file: code 7 with the path
//   when it does not open, 2 or 3 when a write fails, 8 when closing fails;
// - ZkStreamException (value form, "Zlib-Fehler") from the inflate engine;
// - UnpackError kDamagedEntry when the stream does not reach its end or
//   does not yield exactly `uncompressedLength` bytes (the file then holds
//   what inflated before the damage; the caller removes it).
// On every path out the file is closed and every stream object released.
// `fileCreated` (if set) is called as soon as the file has been created, so
// the caller knows which files to remove should anything fail later.
void ExtractEntry(const void* data, unsigned long compressedLength, unsigned long uncompressedLength,
                  const char* targetPath, CreatedFolderList* folders,
                  const std::function<void(const char*)>& fileCreated = nullptr);

}  // namespace kv
