// Walking the archive resources that the launcher unpacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "launcher/folder_path.h"
#include "launcher/pause_point.h"
#include "platform/win32.h"

namespace kv {

// Told what the unpacking writes, so that its owner can write the cleanup
// script and, after a failure, remove what was written.
class UnpackObserver {
 public:
  // A file of the run is open for writing (it stays incomplete if its
  // entry fails): created by this run just now (`createdNow`), or by an
  // earlier entry whose name this one repeats. Called right after the file
  // opened.
  virtual void FileOpened(const char* targetPath, bool createdNow) = 0;
  // The entry's file has been written completely.
  virtual void EntryUnpacked(const char* targetPath) = 0;

 protected:
  ~UnpackObserver() = default;
};

// One archive resource of the executable, read and checked.
struct PayloadArchive {
  const char* name = nullptr;     // as in kUnpackedArchives
  const std::uint8_t* data = nullptr;  // the resource's bytes, mapped for the process's life
  std::size_t size = 0;
  ArchiveDirectory directory;     // ok(): every record passed the reader's checks
};

// Finds the six archives ("BASE", "SETUPBASE", "SETUPPHOTO",
// "PHOTOEDITION", "KVIMAGE", "KVVERSION", type "KVArc") of `module` in this
// order and reads their directories; an archive that is missing, or cannot
// be loaded or locked, is left out. Throws UnpackError kDamagedArchive for
// the first archive whose directory breaks a bound or holds a name that
// would leave the work folder, so a damaged payload is refused before
// anything of it is written.
std::vector<PayloadArchive> ReadPayload(HMODULE module);

// Longest path the file calls take (MAX_PATH less the terminator), and the
// longest folder path the system creates folders at (MAX_PATH less 12
// characters, the room it keeps for a file name, and the terminator).
constexpr std::size_t kMaxTargetPath = MAX_PATH - 1;
constexpr std::size_t kMaxFolderPath = MAX_PATH - 13;

// Throws UnpackError kPathTooLong for the first path the run would need
// and the system could not take: `extraFile` (a further file the run writes
// into the work folder, such as the cleanup script; may be empty) or any
// entry's target path (`workFolder`, which ends in a backslash, followed by
// the name) beyond kMaxTargetPath, or any folder part of those beyond
// kMaxFolderPath. Called before anything is written.
void CheckTargetPaths(const std::vector<PayloadArchive>& payload, const std::string& workFolder,
                      const std::string& extraFile);

// Unpacks every entry of `payload`, archive by archive, each in directory
// order, to the work folder path followed by its name. Created folders are
// recorded in `folders`; `observer` hears of every file. A file is only
// ever created anew (an existing file of somebody else's is never opened:
// the entry fails with code 7), except that a name an earlier entry of this
// walk wrote replaces that file. Exceptions of ExtractEntry pass through.
// `pauses` (may be null) is paused at before each entry and between the
// pieces of its output (ExtractEntry); what it throws ends the walk there.
void UnpackArchives(const std::vector<PayloadArchive>& payload, const char* workFolder,
                    CreatedFolderList& folders, UnpackObserver& observer,
                    PausePoint* pauses = nullptr);

}  // namespace kv
