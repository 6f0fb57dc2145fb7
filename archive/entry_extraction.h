// Unpacking one archive entry to its file below the work folder.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "archive/known_folders.h"
#include "archive/whole_entry_inflate.h"
#include "launcher/folder_path.h"
#include "launcher/pause_point.h"
#include "stream/inflate_stream.h"

namespace kv {

// Bytes of compressed input per refill, and of output per step and write,
// for entries inflated through the zlib stream.
constexpr unsigned long kExtractionStepBytes = 64 * 1024;

// Bytes per write of an entry inflated whole: a larger entry is written in
// pieces of this size with a pause (PausePoint) between them. Under Wine a
// piece takes 0.2 ms to write (4 ms at worst under load), and inflating the
// largest whole entry (8 MiB of text) 3 to 8 ms (20 ms at worst), well
// inside the 50 ms between dispatches (bench/piece_times.cpp, and
// bench/README.md, "Dispatching while unpacking").
constexpr unsigned long kWholeWritePieceBytes = 1ul << 20;

// What extraction keeps from one entry to the next in a run, so that no
// entry pays for it again: the whole-entry buffer and decompressor, the
// zlib engine with its input buffer and output block (made when the first
// entry beyond the whole-entry limit needs them), and the folders known to
// exist below the work folder.
class ExtractionContext {
 public:
  // `workFolder`: the work folder's full path without trailing backslash;
  // it exists. Entries recorded at up to `wholeEntryLimit` bytes are
  // inflated whole, larger ones through the zlib stream.
  explicit ExtractionContext(const std::string& workFolder,
                             unsigned long wholeEntryLimit = kWholeEntryLimit)
      : folders_(workFolder), whole_(wholeEntryLimit) {}

  // Where the extraction pauses (null: nowhere): before an entry's folders
  // and file are made, and between the pieces of its output. Whatever a
  // pause throws ends the entry with its file closed.
  void PauseAt(PausePoint* pauses) { pauses_ = pauses; }
  PausePoint* Pauses() const { return pauses_; }

  KnownFolders& Folders() { return folders_; }
  WholeEntryInflater& Whole() { return whole_; }
  ZKInflate& Engine() {
    if (!engine_) engine_.reset(new ZKInflate(kExtractionStepBytes));
    return *engine_;
  }
  unsigned char* Block() {
    if (!block_) block_.reset(new unsigned char[kExtractionStepBytes]);
    return block_.get();
  }

 private:
  KnownFolders folders_;
  WholeEntryInflater whole_;
  std::unique_ptr<ZKInflate> engine_;
  std::unique_ptr<unsigned char[]> block_;
  PausePoint* pauses_ = nullptr;
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
// `target` says, with no sharing. An entry recorded at no more than the
// whole-entry limit (kWholeEntryLimit, or the context's) is inflated whole
// into a buffer of exactly `uncompressedLength` bytes and written in pieces
// of up to kWholeWritePieceBytes; a larger one, or one that does not
// inflate whole to exactly its record (a damaged one, or one whose buffer
// memory could not be had), is inflated through the zlib stream and written
// in steps of up to 64 KiB.
// Either way never more than `uncompressedLength` bytes are produced: the
// inflation stops as soon as the stream would yield more.
//
// Throws:
// - ZkStreamException* (pointer form) from the file: code 7 with the path
//   when it does not open (for kNew also when any file of that name
//   exists), 2 or 3 when a write fails, 8 when closing fails;
// - ZkStreamException (value form, "Zlib-Fehler") from the inflate engine;
// - UnpackError kDamagedEntry when the stream does not reach its end intact
//   (a data error, a wrong Adler-32, a stream cut short: "the compressed
//   data is damaged or truncated") or does not yield exactly
//   `uncompressedLength` bytes ("the data inflates to more than the N bytes
//   its record gives", "the data inflates to X bytes instead of N"); the
//   file then holds at most what inflated before the damage, or the
//   recorded length, and the caller removes it.
// On every path out the file is closed and every stream object released.
// `fileCreated` (if set) is called as soon as the file is open (it is this
// run's: created now, or by an earlier entry), so the caller knows which
// files to remove should anything fail later.
// With a `context`, its buffers and known folders are used (the folders
// through KnownFolders::Ensure); without one, the missing folders are made
// by CreateFolderPath and the buffers are the call's own. With the
// context's pause point, the entry pauses between pieces of its output (and
// before its file is opened); an exception thrown there passes through
// like the others, with the file closed and holding whole pieces.
void ExtractEntry(const void* data, unsigned long compressedLength, unsigned long uncompressedLength,
                  const char* targetPath, CreatedFolderList* folders,
                  TargetFile target = TargetFile::kNew,
                  const std::function<void(const char*)>& fileCreated = nullptr,
                  ExtractionContext* context = nullptr);

}  // namespace kv
