// Process-wide values that the main sequence and the splash window share.
// All of them are read and written on the launcher's one thread only.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// The module instance: set first thing by the main sequence; every resource
// lookup (archives, dialog, bitmap, icon) and the program's own path use it.
extern HINSTANCE appInstance;

// Set until the splash has finished a paint; the main sequence pumps
// messages while it is set. Start value 1.
extern int32_t splashPending;

// Set while the splash has not ended; the final wait pumps messages while it
// is set, for at most 5000 ms. Start value 1.
extern int32_t splashAlive;

// Raised just before the second stage is started; from then on the splash
// ends itself when it loses the keyboard focus. Start value 0.
extern uint8_t launchStarted;

// Raised by the splash when the user answers Yes to its close question
// before the second stage has started: the run stops at its next pause
// (launcher/pause_point.h), removes what it wrote and ends with
// kExitCancelled. Start value 0.
extern uint8_t cancelRequested;

// Raised by the main sequence once the run has ended before the launch (a
// failure, a cancel, too little space) and only reports and removes what
// it wrote: a close request then asks nothing. Start value 0.
extern uint8_t runEnding;
