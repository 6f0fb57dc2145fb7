// Stand-in for the holdproc tool that the cleanup script starts first:
// "holdproc <pid>" waits until the process with that decimal id has ended,
// so that the script deletes nothing that process still uses. A process
// that is already gone, or an argument that names none, ends the wait at
// once. The wait is bounded (10 minutes) so a script never hangs forever.
#include <cstdlib>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandTail, int) {
  char* end = nullptr;
  const unsigned long pid = std::strtoul(commandTail, &end, 10);
  if (end == commandTail || pid == 0) return 1;

  kv::ScopedKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process.IsValid()) return 0;
  const DWORD kMaxWaitMs = 10 * 60 * 1000;
  return ::WaitForSingleObject(process.Get(), kMaxWaitMs) == WAIT_OBJECT_0 ? 0 : 2;
}
