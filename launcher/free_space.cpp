#include "launcher/free_space.h"

#include "platform/win32.h"

namespace kv {

double GetFreeSpace(const char* drive) {
  using GetDiskFreeSpaceExFn = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                             PULARGE_INTEGER);
  // Looked up at run time: the oldest systems do not have the Ex form.
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  auto getFreeEx = kernel ? reinterpret_cast<GetDiskFreeSpaceExFn>(reinterpret_cast<void*>(
                                ::GetProcAddress(kernel, "GetDiskFreeSpaceExA")))
                          : nullptr;
  if (getFreeEx) {
    ULARGE_INTEGER available;
    ULARGE_INTEGER total;
    available.QuadPart = 0;  // a failing call leaves 0
    getFreeEx(drive, &available, &total, nullptr);
    return static_cast<double>(available.QuadPart);
  }
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD clusters = 0;
  if (!::GetDiskFreeSpaceA(drive, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
    return 0.0;
  return static_cast<double>(sectorsPerCluster) * bytesPerSector * freeClusters;
}

}  // namespace kv
