// Walking the archive resources that the launcher unpacks.
#pragma once

#include "launcher/folder_path.h"
#include "platform/win32.h"

namespace kv {

// Told what the unpacking writes, so that its owner can write the cleanup
// script and, after a failure, remove what was written.
class UnpackObserver {
 public:
  // A file of the run has been created (it stays incomplete if its entry
  // fails). Called for every entry, right after its file opened.
  virtual void FileCreated(const char* targetPath) = 0;
  // The entry's file has been written completely.
  virtual void EntryUnpacked(const char* targetPath) = 0;

 protected:
  ~UnpackObserver() = default;
};

// Unpacks the six archives ("BASE", "SETUPBASE", "SETUPPHOTO",
// "PHOTOEDITION", "KVIMAGE", "KVVERSION", type "KVArc") of `module` in this
// order into `workFolder` (which ends in a backslash), each entry in
// directory order to the work folder path followed by its name. An archive
// that is missing, or cannot be loaded or locked, is skipped. Created
// folders are recorded in `folders`; `observer` hears of every file.
//
// An archive whose directory breaks a bound or holds a name that would
// leave the work folder is refused before any of its entries is written
// (UnpackError kDamagedArchive); a target path longer than the platform's
// path limit raises UnpackError kPathTooLong. Exceptions of ExtractEntry
// pass through.
void UnpackArchives(HMODULE module, const char* workFolder, CreatedFolderList& folders,
                    UnpackObserver& observer);

}  // namespace kv
