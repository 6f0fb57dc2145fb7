#include "launcher/work_folder.h"

#include <winternl.h>

#include <string>
#include <vector>

#include "launcher/temp_folder.h"
#include "platform/system_library.h"

namespace kv {

// Protected access lists: SYSTEM and the built-in administrators full
// access, nobody else anything; owned by the administrators. The folder's
// entries are inherited by everything below, and OWNER RIGHTS limits
// whoever owns a file inside to reading its access list.
const char kProtectedFolderSddl[] =
    "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;RC;;;OW)";
const char kProtectedFileSddl[] = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

namespace {

// NtCreateFile's values for an object that must not exist yet.
constexpr ULONG kCreateOnly = 2;            // FILE_CREATE
constexpr ULONG kDirectoryFile = 0x1;       // FILE_DIRECTORY_FILE
constexpr ULONG kNonDirectoryFile = 0x40;   // FILE_NON_DIRECTORY_FILE
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

bool IsOneOf(PSID sid, WELL_KNOWN_SID_TYPE first, WELL_KNOWN_SID_TYPE second) {
  return sid && ::IsValidSid(sid) &&
         (::IsWellKnownSid(sid, first) || ::IsWellKnownSid(sid, second));
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

bool DescriptorKeepsOthersOut(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !IsOneOf(owner, WinLocalSystemSid, WinBuiltinAdministratorsSid)) {
    return false;
  }
  BOOL present = FALSE;
  PACL dacl = nullptr;
  // No list at all, or a null one, lets everybody in.
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl)
    return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;  // takes rights away only
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = &allowed->SidStart;
    if (IsOneOf(sid, WinLocalSystemSid, WinBuiltinAdministratorsSid)) continue;
    if (IsOneOf(sid, WinCreatorOwnerRightsSid, WinCreatorOwnerRightsSid) &&
        (allowed->Mask & ~static_cast<ACCESS_MASK>(READ_CONTROL)) == 0) {
      continue;
    }
    return false;
  }
  return true;
}

bool AccessListKeepsOthersOut(HANDLE handle) {
  if (RunsUnderWine()) return true;
  std::vector<BYTE> descriptor;
  return ReadSecurity(handle, &descriptor) && DescriptorKeepsOthersOut(descriptor.data());
}

CreateOutcome CreateInFolder(HANDLE folder, const char* name, bool directory, bool protect,
                             ScopedKernelHandle* created, DWORD* error) {
  *error = 0;
  created->Reset();
  const auto createFile = NtdllFunction<NtCreateFileFn>("NtCreateFile");
  const auto toDosError = NtdllFunction<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
  const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (!createFile || !toDosError || length <= 1) {
    *error = ERROR_INVALID_NAME;
    return CreateOutcome::kFailed;
  }
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, &wide[0], length);
  wide.resize(static_cast<size_t>(length) - 1);
  if (wide.find_first_of(L"\\/:") != std::wstring::npos) {
    *error = ERROR_INVALID_NAME;
    return CreateOutcome::kFailed;
  }

  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (protect && !::ConvertStringSecurityDescriptorToSecurityDescriptorA(
                     directory ? kProtectedFolderSddl : kProtectedFileSddl, SDDL_REVISION_1,
                     &descriptor, nullptr)) {
    *error = ::GetLastError();
    return CreateOutcome::kFailed;
  }
  ScopedLocal ownedDescriptor(descriptor);

  UNICODE_STRING objectName;
  objectName.Buffer = &wide[0];
  objectName.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
  objectName.MaximumLength = objectName.Length;
  OBJECT_ATTRIBUTES attributes;
  // Relative to the held folder: no path is looked up again.
  InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder, descriptor);
  IO_STATUS_BLOCK status = {};
  HANDLE object = nullptr;
  // A folder: reading and writing may be shared (the run and the second
  // stage work inside), deleting may not: no rename, no removal while
  // held. The script: nothing is shared while the run writes it.
  const LONG result =
      directory
          ? createFile(&object, FILE_LIST_DIRECTORY | READ_CONTROL | SYNCHRONIZE, &attributes,
                       &status, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       kCreateOnly, kDirectoryFile | kSynchronousIo, nullptr, 0)
          : createFile(&object, GENERIC_WRITE | READ_CONTROL | SYNCHRONIZE, &attributes, &status,
                       nullptr, FILE_ATTRIBUTE_NORMAL, 0, kCreateOnly,
                       kNonDirectoryFile | kSynchronousIo, nullptr, 0);
  if (result == kNameCollision) return CreateOutcome::kNameTaken;
  if (result < 0) {
    *error = toDosError(result);
    return CreateOutcome::kFailed;
  }
  created->Reset(object);
  // A volume without persistent access lists (FAT, exFAT, many network
  // drives) drops the descriptor without a word.
  if (protect && !(VolumeKeepsAccessLists(object) && AccessListKeepsOthersOut(object)))
    return CreateOutcome::kUnprotected;
  return CreateOutcome::kCreated;
}

}  // namespace kv
