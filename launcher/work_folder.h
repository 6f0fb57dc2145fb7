// The work folder of a run: a folder below the user's temporary folder that
// this run alone created, and that nothing can move aside while the run
// needs it.
//
// The launcher runs with administrator rights and starts StageRun.exe from
// the work folder; the second stage later runs the cleanup script that lies
// in it, elevated as well. Any unelevated process of the same user may
// change whatever the user's temporary folder holds, so:
// - the folder is created and opened in one step: between the two no other
//   process can rename it and put a folder of its own under the name;
// - the open handle has no delete sharing, so while the run holds it the
//   folder cannot be renamed, deleted or replaced, nor any folder above it
//   renamed (the system refuses to move a folder with open files below it);
// - elevated, the folder gets an access list that only SYSTEM and the
//   administrators may write through, owned by the administrators, and an
//   OWNER RIGHTS entry that takes the implicit rights away from whoever
//   owns a file inside (where the system makes the user the owner of files
//   an administrator creates); everything created inside inherits it.
#pragma once

#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kv {

// True when this process's token is elevated (an administrator's full
// rights). False where the system has no elevation.
bool IsElevated();

// The security descriptor of an elevated run's work folder, in the
// system's string form.
extern const char kProtectedFolderSddl[];

// True when a folder of `path` (a full path; the drive's root is not
// looked at) is a link: a junction, a symbolic link or a mount point, which
// the user may point elsewhere at any moment, whatever the run holds open
// behind it. Also true when a folder's attributes cannot be read.
bool PathHasLink(const char* path);

class WorkFolder {
 public:
  enum class Outcome {
    kCreated,    // the folder is new, this run's, and held
    kNameTaken,  // a file or folder of that name exists; nothing was touched
    kFailed,     // the folder could not be created (see the error)
  };

  // Creates the folder `path` (a full path without trailing backslash) and
  // opens it in the same step, without delete sharing. With `protect`, the
  // folder gets kProtectedFolderSddl. On kFailed, `*error` holds the
  // system's error code.
  Outcome Create(const char* path, bool protect, DWORD* error);

  // True while the folder created by Create is held open.
  bool IsHeld() const { return handle_.IsValid(); }

  // The handle held (for the checks of the security tests).
  HANDLE Handle() const { return handle_.Get(); }

  // Lets go of the folder: from now on it can be renamed and removed like
  // any other (its own access list permitting). Called once the second
  // stage stands in it, or before a failed run removes it.
  void Release() { handle_.Reset(); }

 private:
  ScopedKernelHandle handle_;
};

}  // namespace kv
