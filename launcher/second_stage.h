// Starting the second stage, StageRun.exe, from the work folder.
#pragma once

#include "zkstring/zk_string.h"

namespace kv {

// The second stage's program, found in the current directory.
constexpr const char kSecondStageProgram[] = "StageRun.exe";

// The parameter text: the fixed words, ResourceFile= and CleanUp= with the
// quoted program and script paths, then the command-line tail exactly as
// received (an empty tail leaves the text ending in one blank).
ZkString FormatSecondStageParameters(const char* programPath, const char* scriptPath,
                                     const char* commandTail);

// Asks the shell to open StageRun.exe with `parameters` in the current
// directory, shown normally, without a process handle. The result is not
// looked at: a failed start is not the launcher's to report (the shell
// shows its own message).
void LaunchSecondStage(const char* parameters);

}  // namespace kv
