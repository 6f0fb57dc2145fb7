// Dispatching the launcher's window messages (the splash's) on its one
// thread: the waits before the first paint and after the launch, and the
// pauses of the work in between.
#pragma once

#include <cstdint>

#include "launcher/pause_point.h"
#include "platform/win32.h"

namespace kv {

// How much of the launcher's own work may pass before a pause dispatches
// the waiting messages again. A pause comes at least once per entry, per
// piece of output and per removal, each well below this (see
// archive/entry_extraction.h), so messages wait at most about this plus
// one piece: within the 50 ms a window may keep a user waiting.
// 20 ms: each dispatch asks the system for the queue (a server round trip
// under Wine), so fewer dispatches cost the unpacking of many small files
// less, and the 50 ms still hold with a piece of up to 30 ms between pauses.
constexpr double kDispatchIntervalMs = 20.0;

// Messages dispatched by one pause at most, so that messages posted without
// end (by another program) cannot hold the work.
constexpr int kMaxMessagesPerPause = 64;

// Dispatches the messages waiting for the thread, at most `limit`, without
// waiting for more. Sent messages (SendMessage from another program) are
// answered on the way.
void DispatchWaitingMessages(int limit = kMaxMessagesPerPause);

// Dispatches the thread's messages while `flag` is set, for at most
// `boundMs` milliseconds in all, sleeping while none is waiting (no
// polling). Returns at once when `flag` is clear.
void PumpWhile(const int32_t& flag, DWORD boundMs);

// Thrown by a pause of the run after the user answered Yes to the close
// question: the work stops there, and the main sequence removes what the
// run wrote and ends with kExitCancelled. Not a std::exception, so that
// nothing that describes failures takes it for one.
struct RunCancelled {};

// The run's pauses: dispatch the waiting messages once kDispatchIntervalMs
// have passed since the last dispatch, and, unless made with `stopOnCancel`
// false (the removal of what a run wrote, which must go on), throw
// RunCancelled when the user has asked to cancel (cancelRequested).
class MessagePauses : public PausePoint {
 public:
  explicit MessagePauses(bool stopOnCancel);
  void Pause() override;
  void Rest(DWORD ms) override;

 private:
  bool stopOnCancel_;
  LONGLONG interval_;  // kDispatchIntervalMs in counter ticks
  LONGLONG last_;      // counter at the last dispatch
};

}  // namespace kv
