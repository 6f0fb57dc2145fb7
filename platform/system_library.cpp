#include "platform/system_library.h"

#include <cstring>

namespace kv {

namespace {

void* KernelExport(const char* name) {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  return kernel ? reinterpret_cast<void*>(::GetProcAddress(kernel, name)) : nullptr;
}

}  // namespace

void RestrictDllSearchToSystemFolder(void* (*lookup)(const char* name)) {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;
  auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      (lookup ? lookup : &KernelExport)("SetDefaultDllDirectories"));
  if (setDirectories && setDirectories(kLoadLibrarySearchSystem32)) return;
  // Without it (Windows Vista, 7 without its update) the current folder at
  // least leaves the search; the launcher loads every DLL of its own by
  // full path from the system folder.
  ::SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH];
  const UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + std::strlen(name) >= MAX_PATH) return nullptr;
  path[length] = '\\';
  std::strcpy(path + length + 1, name);
  // A full path: the search order plays no part.
  return ::LoadLibraryA(path);
}

DWORD MilliClock() {
  using TimeGetTimeFn = DWORD(WINAPI*)();
  static TimeGetTimeFn timeGetTimeFn = [] {
    HMODULE winmm = LoadSystemLibrary("winmm.dll");
    return winmm ? reinterpret_cast<TimeGetTimeFn>(
                       reinterpret_cast<void*>(::GetProcAddress(winmm, "timeGetTime")))
                 : nullptr;
  }();
  return timeGetTimeFn ? timeGetTimeFn() : ::GetTickCount();
}

}  // namespace kv
