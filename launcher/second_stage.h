// Starting the second stage, StageRun.exe, from the work folder.
#pragma once

#include "platform/win32.h"
#include "zkstring/zk_string.h"

namespace kv {

// The second stage's program, in the work folder.
constexpr const char kSecondStageProgram[] = "StageRun.exe";

// The parameter text: the fixed words, ResourceFile= and CleanUp= with the
// quoted program and script paths, then the command-line tail exactly as
// received (an empty tail leaves the text ending in one blank).
ZkString FormatSecondStageParameters(const char* programPath, const char* scriptPath,
                                     const char* commandTail);

// Starts `programPath` (the full path of the StageRun.exe this run
// unpacked) with the command line `"<programPath>" <parameters>`, in
// `workFolder` as its current directory, shown normally, and closes the
// handles it gets. Nothing is searched for: no other folder, no PATH, no
// App Paths, no file association. The new process inherits `inherited`
// (an inheritable handle; null: none) and no other handle: the handle is
// the only entry of its PROC_THREAD_ATTRIBUTE_HANDLE_LIST. Where the
// system has no attribute lists (InitializeProcThreadAttributeList and
// UpdateProcThreadAttribute are looked up at run time), it inherits every
// inheritable handle of the launcher, and the launcher makes no other
// handle inheritable. Returns 0, or the system's error code when the
// program could not be started.
DWORD LaunchSecondStage(const char* programPath, const char* parameters, const char* workFolder,
                        HANDLE inherited);

}  // namespace kv
