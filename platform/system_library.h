// Loading code only from the system folder. The launcher runs with
// administrator rights from a download folder that anybody may have filled,
// so no DLL may be found there: the executable imports only DLLs that the
// system maps from its own folder (KnownDLLs), and anything else is loaded
// at run time by full path from the system folder.
#pragma once

#include "platform/win32.h"

namespace kv {

// Restricts this process's DLL search to the system folder, where the
// system offers SetDefaultDllDirectories (Windows 8, or 7 with its update);
// elsewhere it takes the current folder out of the search
// (SetDllDirectoryW with an empty text). Call it before anything else.
// `lookup` finds kernel32's exports by name (null: the system's; tests
// pass one that finds nothing, as on a system without the call).
void RestrictDllSearchToSystemFolder(void* (*lookup)(const char* name) = nullptr);

// Loads `name` (e.g. "winmm.dll") from the system folder only; null when it
// is not there. The module stays loaded for the life of the process.
HMODULE LoadSystemLibrary(const char* name);

// The system's millisecond clock: timeGetTime of winmm.dll from the system
// folder, or GetTickCount (the same clock at coarser resolution) without it.
DWORD MilliClock();

}  // namespace kv
