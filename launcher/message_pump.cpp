#include "launcher/message_pump.h"

#include "splash/shared_state.h"

namespace kv {
namespace {

LONGLONG Counter() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

}  // namespace

void DispatchWaitingMessages(int limit) {
  MSG message;
  // PM_NOYIELD: the work goes on at once when nothing is waiting (without
  // it an empty queue gives the rest of the thread's time slice away).
  for (int n = 0; n < limit && ::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD);
       ++n) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

void PumpWhile(const int32_t& flag, DWORD boundMs) {
  const DWORD start = ::GetTickCount();
  MSG message;
  while (flag) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= boundMs) return;
    if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    } else {
      // Wakes for anything in the queue, a paint included, that arrived
      // before the call as well as during it.
      ::MsgWaitForMultipleObjectsEx(0, nullptr, boundMs - elapsed, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
  }
}

MessagePauses::MessagePauses(bool stopOnCancel) : stopOnCancel_(stopOnCancel), last_(Counter()) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  interval_ = static_cast<LONGLONG>(static_cast<double>(frequency.QuadPart) * kDispatchIntervalMs /
                                    1000.0);
}

void MessagePauses::Pause() {
  const LONGLONG now = Counter();
  if (now - last_ >= interval_) {
    DispatchWaitingMessages();
    last_ = Counter();
  }
  if (stopOnCancel_ && cancelRequested) throw RunCancelled();
}

void MessagePauses::Rest(DWORD ms) {
  static const int32_t kAlways = 1;
  PumpWhile(kAlways, ms);
  last_ = Counter();
  if (stopOnCancel_ && cancelRequested) throw RunCancelled();
}

}  // namespace kv
