// Where the launcher's long work (unpacking, removing what a run wrote)
// lets the splash's window messages through: the launcher has one thread,
// and a window whose thread does not dispatch for seconds is marked "Not
// Responding" and offered to be ended.
#pragma once

#include "platform/win32.h"

namespace kv {

class PausePoint {
 public:
  // Called at a point where nothing is half-written: every write call has
  // returned and every file the caller holds is closed by its owner on any
  // way out. Callers call it at least once per entry and per piece of
  // output, so that no more than tens of milliseconds of work lie between
  // two calls. The owner dispatches the waiting messages there (when they
  // are due) and may stop the work by throwing; whatever the caller holds
  // is released by unwinding.
  virtual void Pause() = 0;

  // Waits `ms` milliseconds instead of Sleep (a retry that waits for
  // another process), dispatching the messages that arrive meanwhile.
  virtual void Rest(DWORD ms) = 0;

 protected:
  ~PausePoint() = default;
};

}  // namespace kv
