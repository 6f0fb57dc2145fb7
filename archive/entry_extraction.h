// Unpacking one archive entry to its file below the work folder.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "archive/known_folders.h"
#include "launcher/folder_path.h"
#include "stream/inflate_stream.h"

namespace kv {

// Bytes of compressed input per refill, and of output per step and write.
constexpr unsigned long kExtractionStepBytes = 64 * 1024;

// What extraction keeps from one entry to the next in a run, so that no
// entry pays for it again: the inflate engine with its input buffer, the
// output block, and the folders known to exist below the work folder.
class ExtractionContext {
 public:
  // `workFolder`: the work folder's full path without trailing backslash;
  // it exists.
  explicit ExtractionContext(const std::string& workFolder)
      : folders_(workFolder),
        engine_(kExtractionStepBytes),
        block_(new unsigned char[kExtractionStepBytes]) {}

  KnownFolders& Folders() { return folders_; }
  ZKInflate& Engine() { return engine_; }
  unsigned char* Block() { return block_.get(); }

 private:
  KnownFolders folders_;
  ZKInflate engine_;
  std::unique_ptr<unsigned char[]> block_;
};

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
// With a `context`, its engine, block and known folders are used (the
// folders through KnownFolders::Ensure); without one, the missing folders
// are made by CreateFolderPath and the buffers are the call's own.
void ExtractEntry(const void* data, unsigned long compressedLength, unsigned long uncompressedLength,
                  const char* targetPath, CreatedFolderList* folders,
                  TargetFile target = TargetFile::kNew,
                  const std::function<void(const char*)>& fileCreated = nullptr,
                  ExtractionContext* context = nullptr);

}  // namespace kv
