// The launcher's run from start to exit code, one function per stage.
#pragma once

#include "platform/win32.h"

namespace kv {

// Exit codes of the run.
enum ExitCode : int {
  kExitSuccess = 0,            // second stage requested, or an open setup window brought forward
  kExitInsufficientSpace = 1,  // the temporary folder's drive has less than 10 MB free
};

// Class and exact title of an open setup window that makes a second
// launcher step aside.
constexpr const char kSetupWindowClass[] = "AfxFrameOrView42";
constexpr const char kSetupWindowTitle[] = "Kalvora Setup";

// How long the final wait lets the splash end, in milliseconds.
constexpr DWORD kFinalWaitMs = 5000;

// The whole run: records `instance` as appInstance, steps aside for an open
// setup window, shows the splash, checks the free space, unpacks the
// archives and writes the cleanup script, starts the second stage with
// `commandTail` and waits for the splash. Returns the exit code.
int RunMainSequence(HINSTANCE instance, const char* commandTail);

// If a setup window is open, restores it when minimized, brings it to the
// front and returns true.
bool BringOpenSetupForward();

// Takes at most one message of the thread's queue, without waiting, and
// dispatches it.
void PumpOneMessage();

}  // namespace kv
