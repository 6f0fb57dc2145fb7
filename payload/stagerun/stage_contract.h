// What every second stage owes the launcher's cleanup script, shared by
// the example second stage of the publishers' bundles and the recording
// stand-in of the tests:
//   - the values of ResourceFile= and CleanUp= are the FIRST occurrences
//     on the command line: the launcher writes its own before the tail it
//     was started with, which anybody who starts the setup chooses;
//   - the script runs as `<Windows>\System32\cmd.exe /d /v:off /c
//     ""<script>" <process id>"`, the Windows folder taken from
//     GetSystemWindowsDirectoryW: not %ComSpec%, which the user can set; no
//     AutoRun commands (/d), which the user's registry can add; no delayed
//     expansion (/v:off), which the user's registry can switch on for
//     every cmd and which would expand a !NAME! of a path in an elevated
//     del. The process id lets the script's holdproc line wait until the
//     second stage has ended.
#pragma once

#include <string>

namespace kv {

// The text between `key="` and the next `"` at the first occurrence of
// `key="` in `commandLine`; empty when there is none.
std::string FirstQuotedValue(const std::string& commandLine, const std::string& key);

// The command line that runs `script` for the process `processId` with
// `cmd`, the full path of the system's cmd.exe.
std::wstring CleanupCommandLine(const std::wstring& cmd, const std::wstring& script,
                                unsigned long processId);

// Starts the script (a path in the ANSI code page) by the contract above,
// hidden, in the Windows folder (it must not stand in the work folder it
// removes), with this process's id, without waiting for it. False when it
// could not be started.
bool StartCleanupScript(const std::string& script);

}  // namespace kv
