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

void PreferSystemFolderImages(void* (*lookup)(const char* name)) {
  using SetProcessMitigationPolicyFn = BOOL(WINAPI*)(int policy, void* buffer, SIZE_T size);
  auto setPolicy = reinterpret_cast<SetProcessMitigationPolicyFn>(
      (lookup ? lookup : &KernelExport)("SetProcessMitigationPolicy"));
  if (!setPolicy) return;
  // PROCESS_MITIGATION_IMAGE_LOAD_POLICY: one DWORD of flags. Systems
  // without the policy refuse the call; nothing else is to be done there.
  DWORD flags = kPreferSystem32Images;
  setPolicy(kProcessImageLoadPolicy, &flags, sizeof flags);
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

void* SystemFunction(const char* dll, const char* function) {
  HMODULE module = LoadSystemLibrary(dll);
  return module ? reinterpret_cast<void*>(::GetProcAddress(module, function)) : nullptr;
}

bool RunsUnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
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
