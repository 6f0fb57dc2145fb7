// Walking the archive resources that the launcher unpacks.
#pragma once

#include <functional>

#include "launcher/folder_path.h"
#include "platform/win32.h"

namespace kv {

// Called after each entry has been written, with its target path.
using EntryUnpacked = std::function<void(const char* targetPath)>;

// Unpacks the six archives ("BASE", "SETUPBASE", "SETUPPHOTO",
// "PHOTOEDITION", "KVIMAGE", "KVVERSION", type "KVArc") of `module` in this
// order into `workFolder` (which ends in a backslash), each entry in
// directory order to the work folder path followed by its name. An archive
// that is missing, or cannot be loaded or locked, is skipped. Created
// folders are recorded in `folders`; `onEntry` runs after every entry.
//
// An archive whose directory breaks a bound or holds a name that would
// leave the work folder is refused before any of its entries is written
// (UnpackError kDamagedArchive); a target path longer than the platform's
// path limit raises UnpackError kPathTooLong. Exceptions of ExtractEntry
// pass through.
void UnpackArchives(HMODULE module, const char* workFolder, CreatedFolderList& folders,
                    const EntryUnpacked& onEntry);

}  // namespace kv
