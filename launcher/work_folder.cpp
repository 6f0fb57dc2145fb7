#include "launcher/work_folder.h"

#include <winternl.h>

#include <string>
#include <vector>

namespace kv {

// Protected DACL, inherited by everything below: SYSTEM and the built-in
// administrators full access; built-in users and authenticated users read
// and execute; the owner of anything inside no more than reading its access
// list. Owned by the administrators.
const char kProtectedFolderSddl[] =
    "O:BAD:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;BU)(A;OICI;GRGX;;;AU)"
    "(A;OICI;RC;;;OW)";

namespace {

// NtCreateFile's values for a directory that must not exist yet.
constexpr ULONG kCreateOnly = 2;            // FILE_CREATE
constexpr ULONG kDirectoryFile = 0x1;       // FILE_DIRECTORY_FILE
constexpr ULONG kSynchronousIo = 0x20;      // FILE_SYNCHRONOUS_IO_NONALERT
constexpr LONG kNameCollision = static_cast<LONG>(0xC0000035);  // STATUS_OBJECT_NAME_COLLISION

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                    PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);

template <typename Fn>
Fn NtdllFunction(const char* name) {
  // ntdll is mapped into every process before anything else.
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)))
               : nullptr;
}

// The system's own form of a full ANSI path ("\??\C:\...").
bool NativePath(const char* path, std::wstring* native) {
  const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (length <= 0) return false;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, &wide[0], length);
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::vector<wchar_t> full(needed);
  const DWORD got = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (got == 0 || got >= needed) return false;
  *native = L"\\??\\" + std::wstring(full.data(), got);
  return true;
}

}  // namespace

bool IsElevated() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  ScopedKernelHandle owned(token);
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
    return false;
  return elevation.TokenIsElevated != 0;
}

bool PathHasLink(const char* path) {
  const std::string full(path);
  // Behind "C:\" each backslash ends a folder, and so does the text's end.
  for (std::string::size_type cut = full.find('\\', 3);; cut = full.find('\\', cut + 1)) {
    const std::string folder = full.substr(0, cut);
    if (folder.size() > 3) {
      const DWORD attributes = ::GetFileAttributesA(folder.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    }
    if (cut == std::string::npos) return false;
  }
}

WorkFolder::Outcome WorkFolder::Create(const char* path, bool protect, DWORD* error) {
  *error = 0;
  const auto createFile = NtdllFunction<NtCreateFileFn>("NtCreateFile");
  const auto toDosError = NtdllFunction<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
  std::wstring native;
  if (!createFile || !toDosError || !NativePath(path, &native)) {
    *error = ERROR_INVALID_NAME;
    return Outcome::kFailed;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (protect && !::ConvertStringSecurityDescriptorToSecurityDescriptorA(
                     kProtectedFolderSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    *error = ::GetLastError();
    return Outcome::kFailed;
  }
  ScopedLocal ownedDescriptor(descriptor);

  UNICODE_STRING name;
  name.Buffer = &native[0];
  name.Length = static_cast<USHORT>(native.size() * sizeof(wchar_t));
  name.MaximumLength = name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
  IO_STATUS_BLOCK status = {};
  HANDLE folder = nullptr;
  // Reading and writing may be shared (the run and the second stage work
  // inside), deleting may not: no rename, no removal while held.
  const LONG result = createFile(&folder, FILE_LIST_DIRECTORY | SYNCHRONIZE, &attributes, &status,
                                 nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 kCreateOnly, kDirectoryFile | kSynchronousIo, nullptr, 0);
  if (result == kNameCollision) return Outcome::kNameTaken;
  if (result < 0) {
    *error = toDosError(result);
    return Outcome::kFailed;
  }
  handle_.Reset(folder);
  return Outcome::kCreated;
}

}  // namespace kv
