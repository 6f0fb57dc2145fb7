// The launcher's run from start to exit code, one function per stage.
#pragma once

#include "launcher/exit_codes.h"
#include "platform/win32.h"

namespace kv {

// Class and exact title of an open setup window that makes a second
// launcher step aside.
constexpr const char kSetupWindowClass[] = "AfxFrameOrView42";
constexpr const char kSetupWindowTitle[] = "Kalvora Setup";

// How long the final wait lets the splash end, in milliseconds.
constexpr DWORD kFinalWaitMs = 5000;

// How long the run waits for the splash's first paint at most, in
// milliseconds: a splash that never paints does not hold the run.
constexpr DWORD kFirstPaintWaitMs = 3000;

// The whole run: records `instance` as appInstance, steps aside for an open
// setup window, shows the splash, opens the temporary folder (elevated:
// the machine's), checks the free space, holds the setup file
// (launcher/setup_file.h), unpacks the archives and writes the cleanup
// script beside the work folder, starts the StageRun.exe it unpacked, by
// its full path, with `commandTail` and the setup file's handle, and waits
// for the splash. Returns the exit code.
//
// Any failure while naming, unpacking or writing the script (every stream
// exception, a refused archive or entry, no free name, a path too long, a
// protection that does not hold, memory) ends the run without starting the
// second stage, and so does a second stage that cannot be started: what
// the run wrote is removed, one message in the user's language says what
// failed, and the exit code names the kind of failure
// (launcher/exit_codes.h).
//
// From the splash's first paint until it is destroyed, the waiting window
// messages are dispatched at least every few tens of milliseconds of work
// (launcher/message_pump.h), the removal after a failure included. A close
// request before the launch asks the splash's question; Yes stops the run
// at its next pause, removes what it wrote as a failed run does and ends
// with kExitCancelled, without a message unless something could not be
// removed.
int RunMainSequence(HINSTANCE instance, const char* commandTail);

// If a setup window is open, restores it when minimized, brings it to the
// front and returns true.
bool BringOpenSetupForward();

}  // namespace kv
