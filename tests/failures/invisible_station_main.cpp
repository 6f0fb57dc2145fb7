// The launcher as a run nobody sees meets it (a service, a software
// distribution tool running it as SYSTEM): its window station reports no
// WSF_VISIBLE. Wine's station is always visible, so this test build answers
// the visibility query itself; everything else is the launcher's own entry
// point. Built only for the tests, never shipped.
#include "launcher/main_sequence.h"
#include "launcher/message_box.h"
#include "platform/system_library.h"
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  kv::RestrictDllSearchToSystemFolder();
  kv::SetWindowStationQuery([] { return false; });
  return kv::RunMainSequence(instance, commandTail);
}
