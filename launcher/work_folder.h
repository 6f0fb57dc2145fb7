// The work folder of an elevated run. The launcher runs with administrator
// rights and starts StageRun.exe from the work folder below the user's
// temporary folder; were that folder writable by the user, any process of
// the unelevated user could swap the program between unpacking and launch.
#pragma once

#include "platform/win32.h"

namespace kv {

// True when this process's token is elevated (an administrator's full
// rights). False where the system has no elevation.
bool IsElevated();

// The security descriptor that CreateProtectedFolder gives the folder, in
// the system's string form.
extern const char kProtectedFolderSddl[];

// Creates the folder `path` (no trailing backslash) with a protected access
// list that lets only SYSTEM and the administrators write; users may read
// and execute. Files and folders created in it inherit the same list.
// Returns true when the folder was created (on a file system without access
// lists it is created as any folder); false otherwise, with the platform's
// last error set.
bool CreateProtectedFolder(const char* path);

}  // namespace kv
