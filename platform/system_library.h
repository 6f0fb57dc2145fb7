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

// Asks the system to load any DLL of this process that the system folder
// holds from there, before any other folder (SetProcessMitigationPolicy,
// ProcessImageLoadPolicy with PreferSystem32Images), where the system has
// that policy (Windows 10 1607 and later); elsewhere it does nothing. Call
// it first thing. `lookup` as for RestrictDllSearchToSystemFolder.
void PreferSystemFolderImages(void* (*lookup)(const char* name) = nullptr);

// The policy number and flag PreferSystemFolderImages passes.
constexpr int kProcessImageLoadPolicy = 10;
constexpr DWORD kPreferSystem32Images = 0x4;

// Loads `name` (e.g. "winmm.dll") from the system folder only; null when it
// is not there. The module stays loaded for the life of the process.
HMODULE LoadSystemLibrary(const char* name);

// The export `function` of the system DLL `dll`, loaded by its full path in
// the system folder (LoadSystemLibrary); null when either is missing. For
// the calls that older systems lack, looked up at run time.
void* SystemFunction(const char* dll, const char* function);

// True under Wine: its ntdll, which the system maps before any code of the
// process runs, exports wine_get_version. Nothing of a user's can add that
// export on Windows.
bool RunsUnderWine();

// The system's millisecond clock: timeGetTime of winmm.dll from the system
// folder, or GetTickCount (the same clock at coarser resolution) without it.
DWORD MilliClock();

}  // namespace kv
