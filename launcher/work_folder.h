// The work folder and the cleanup script of a run: new objects in the
// run's temporary folder that this run alone created, and that nothing can
// move aside while the run needs them.
//
// The launcher runs with administrator rights and starts StageRun.exe from
// the work folder; the second stage later runs the cleanup script, elevated
// as well. So:
// - each is created relative to the temporary folder's held handle, with
//   create-new: nothing between a check and the creation can be swapped,
//   and nothing of anybody else's is ever opened;
// - the work folder's handle has no delete sharing, so while the run holds
//   it the folder cannot be renamed, deleted or replaced, nor any folder
//   above it renamed (the system refuses to move a folder with open files
//   below it);
// - elevated, both are owned by the administrators and carry a protected
//   access list that gives SYSTEM and the administrators full rights and
//   nobody else anything, not even reading (so no opportunistic lock can
//   stall whoever reads them); the work folder's list is inherited by
//   everything inside, and an OWNER RIGHTS entry keeps whoever might own a
//   file there from more than reading its access list. Right after the
//   creation the run checks, through the handle, that the volume keeps
//   access lists and is local, and reads the list back.
#pragma once

#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kv {

// True when this process's token is elevated (an administrator's full
// rights). False where the system has no elevation.
bool IsElevated();

// The security descriptors of an elevated run's work folder and script,
// in the system's string form.
extern const char kProtectedFolderSddl[];
extern const char kProtectedFileSddl[];

// True when `descriptor` keeps everybody but SYSTEM and the administrators
// out: its owner is one of the two, its access list is present and every
// entry that allows anything names one of the two, or OWNER RIGHTS with
// no more than reading the access list.
bool DescriptorKeepsOthersOut(PSECURITY_DESCRIPTOR descriptor);

// Reads the owner and access list of the open `handle` (which must carry
// READ_CONTROL) and applies DescriptorKeepsOthersOut. Under Wine, which
// keeps no descriptor but derives one from the Unix owner (every process
// of the Unix user is elevated there, so there is no boundary between a
// user's processes to defend), it is true.
bool AccessListKeepsOthersOut(HANDLE handle);

enum class CreateOutcome {
  kCreated,      // the object is new, this run's, and held
  kNameTaken,    // a file or folder of that name exists; nothing was touched
  kFailed,       // it could not be created (see the error)
  kUnprotected,  // created and held, but its volume drops access lists, is
                 // not local, or the list read back lets others in
};

// Creates `name` (one path component, ANSI) in the folder open as
// `folder`: a directory opened for listing (read and write shared, no
// delete sharing), or a file opened for writing (no sharing). With
// `protect`, it gets kProtectedFolderSddl or kProtectedFileSddl and is
// checked as the header says. On kCreated and kUnprotected `*created`
// holds the object; on kFailed `*error` holds the system's error code.
CreateOutcome CreateInFolder(HANDLE folder, const char* name, bool directory, bool protect,
                             ScopedKernelHandle* created, DWORD* error);

class WorkFolder {
 public:
  // Creates the folder `name` in the temporary folder open as `root`
  // (CreateInFolder with a directory).
  CreateOutcome Create(HANDLE root, const char* name, bool protect, DWORD* error) {
    return CreateInFolder(root, name, true, protect, &handle_, error);
  }

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
