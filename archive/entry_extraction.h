// Unpacking one archive entry to its file below the work folder.
#pragma once

#include <functional>

#include "launcher/folder_path.h"

namespace kv {

// Whose file the target is.
enum class TargetFile {
  kNew,           // the run has not written this path: it is created anew, and
                  // an existing file of that name (somebody else's) is not opened
  kWrittenBefore  // an earlier entry of the run wrote it: it is truncated and replaced
};

// Writes the entry whose zlib stream is the `compressedLength` bytes at
// `data` to `targetPath` (the work folder path followed by the entry name),
// creating the missing folders of the path first and recording each created
// folder in `folders` (see CreatedFolderList). The file is opened as
// `target` says, with no sharing; it receives the inflated bytes in writes
// of up to 64 KiB, and never more than `uncompressedLength` bytes in all:
// the inflation stops as soon as the stream would yield more.
//
// Throws:
// - ZkStreamException* (pointer form) from the file: code 7 with the path
//   when it does not open (for kNew also when any file of that name
//   exists), 2 or 3 when a write fails, 8 when closing fails;
// - ZkStreamException (value form, "Zlib-Fehler") from the inflate engine;
// - UnpackError kDamagedEntry when the stream does not reach its end or
//   does not yield exactly `uncompressedLength` bytes (the file then holds
//   at most what inflated before the damage, or the recorded length; the
//   caller removes it).
// On every path out the file is closed and every stream object released.
// `fileCreated` (if set) is called as soon as the file is open (it is this
// run's: created now, or by an earlier entry), so the caller knows which
// files to remove should anything fail later.
void ExtractEntry(const void* data, unsigned long compressedLength, unsigned long uncompressedLength,
                  const char* targetPath, CreatedFolderList* folders,
                  TargetFile target = TargetFile::kNew,
                  const std::function<void(const char*)>& fileCreated = nullptr);

}  // namespace kv
