// The folders a run has made or found, so that each folder of the payload is
// made, or looked for, once per run and not for every entry below it.
#pragma once

#include <string>

#include "archive/path_set.h"
#include "launcher/folder_path.h"

namespace kv {

class KnownFolders {
 public:
  // `root`, a full folder path without trailing backslash (the work
  // folder), exists: the run made it.
  explicit KnownFolders(const std::string& root) { known_.Insert(root); }

  // Makes sure the folder `folder` (a full path without trailing backslash)
  // exists, with the result of CreateFolderPath: each folder it creates is
  // recorded at the front of `list`, outer ones first, with its full path as
  // the system reports it once entered; one that exists already (a folder,
  // not a file) is taken as it is and not recorded. Returns 0 when the
  // folder exists afterwards, 1 when a part of it could not be made (the
  // folders made before stay made and recorded).
  //
  // Folders known to exist are not looked at again; below the deepest
  // known one, each missing folder costs one creation, and the current
  // directory is not touched. A folder with no known folder above it goes
  // to CreateFolderPath.
  int Ensure(const std::string& folder, CreatedFolderList* list);

 private:
  PathSet known_;
};

}  // namespace kv
