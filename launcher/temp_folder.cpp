#include "launcher/temp_folder.h"

#include <vector>

#include "launcher/ansi_path.h"
#include "platform/system_library.h"

namespace kv {
namespace {

const wchar_t kMachineEnvironmentKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

VolumeReader volumeReader = nullptr;
SecurityReader securityReader = nullptr;

// TrustedInstaller's service SID (NT SERVICE\TrustedInstaller), the same
// on every system.
const char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// What lets somebody rename or delete a folder, change its access or
// remove its entries.
constexpr ACCESS_MASK kChangingRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;

bool IsDriveRoot(const std::wstring& path) {
  return path.size() >= 3 &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
         path[1] == L':' && path[2] == L'\\';
}

// Vista's calls, looked up at run time like every call older systems lack.
template <typename Fn>
Fn KernelFunction(const char* name) {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  return kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)))
                : nullptr;
}

}  // namespace

std::wstring FinalPath(HANDLE handle) {
  using GetFinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  static const auto getFinalPath = KernelFunction<GetFinalPathFn>("GetFinalPathNameByHandleW");
  if (!getFinalPath) return std::wstring();
  std::vector<wchar_t> buffer(MAX_PATH + 8);
  for (int round = 0; round < 2; ++round) {
    const DWORD length =
        getFinalPath(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0 /* DOS name */);
    if (length == 0) return std::wstring();
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return path;
      if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
      return path;
    }
    buffer.resize(length + 1);
  }
  return std::wstring();
}

RegistryString ReadMachineEnvironmentValue(const wchar_t* name) {
  RegistryString value;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMachineEnvironmentKey, 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return value;
  }
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
      bytes <= 65536) {
    std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD got = bytes;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                           &got) == ERROR_SUCCESS &&
        got <= bytes) {
      value.present = true;
      value.type = type;
      value.data.assign(data.data(), got / sizeof(wchar_t));
      // The stored value may or may not carry its terminating zero.
      const std::wstring::size_type zero = value.data.find(L'\0');
      if (zero != std::wstring::npos) value.data.resize(zero);
    }
  }
  ::RegCloseKey(key);
  return value;
}

std::wstring MachineTempFolderFromValue(const RegistryString& value,
                                        const std::wstring& windowsFolder) {
  if (!value.present) return std::wstring();
  std::wstring folder;
  if (value.type == REG_SZ) {
    folder = value.data;
  } else if (value.type == REG_EXPAND_SZ) {
    for (std::wstring::size_type at = 0; at < value.data.size();) {
      if (value.data[at] != L'%') {
        folder += value.data[at++];
        continue;
      }
      const std::wstring::size_type end = value.data.find(L'%', at + 1);
      if (end == std::wstring::npos) return std::wstring();
      const std::wstring name = value.data.substr(at + 1, end - at - 1);
      if (::lstrcmpiW(name.c_str(), L"SystemRoot") != 0 &&
          ::lstrcmpiW(name.c_str(), L"windir") != 0) {
        return std::wstring();
      }
      folder += windowsFolder;
      at = end + 1;
    }
  } else {
    return std::wstring();
  }
  if (!IsDriveRoot(folder)) return std::wstring();
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}

std::wstring SystemWindowsFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const UINT length = ::GetSystemWindowsDirectoryW(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return L"C:\\Windows";
  std::wstring folder(buffer, length);
  if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

bool ReadVolumeFacts(HANDLE handle, VolumeFacts* facts) {
  using GetVolumeInformationByHandleFn =
      BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
  static const auto getVolumeInformation =
      KernelFunction<GetVolumeInformationByHandleFn>("GetVolumeInformationByHandleW");
  DWORD flags = 0;
  if (!getVolumeInformation ||
      !getVolumeInformation(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
    return false;
  }
  facts->persistentAcls = (flags & FILE_PERSISTENT_ACLS) != 0;
  const std::wstring path = FinalPath(handle);
  facts->local = false;
  if (IsDriveRoot(path)) {
    const UINT type = ::GetDriveTypeW(path.substr(0, 3).c_str());
    facts->local = type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_RAMDISK;
  }
  return true;
}

void SetVolumeReaderForTesting(VolumeReader reader) { volumeReader = reader; }

bool IsTrustedFolderSid(PSID sid) {
  if (!sid || !::IsValidSid(sid)) return false;
  if (::IsWellKnownSid(sid, WinLocalSystemSid) ||
      ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
    return true;
  }
  static PSID trustedInstaller = [] {
    PSID converted = nullptr;
    return ::ConvertStringSidToSidA(kTrustedInstallerSid, &converted) ? converted : nullptr;
  }();
  return trustedInstaller && ::EqualSid(sid, trustedInstaller);
}

bool FolderDescriptorHolds(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!descriptor || !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !IsTrustedFolderSid(owner)) {
    return false;
  }
  BOOL present = FALSE;
  PACL dacl = nullptr;
  // No list, or a null one, lets everybody do everything.
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl)
    return false;
  GENERIC_MAPPING fileMapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                 FILE_ALL_ACCESS};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is made inside only
    if (header->AceType == ACCESS_DENIED_ACE_TYPE ||
        header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE) {
      continue;
    }
    // Both allow types share the plain entry's layout; any other kind of
    // entry is not understood, and so not trusted.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
        header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
      return false;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = &allowed->SidStart;
    // OWNER RIGHTS gives its rights to the owner, which is trusted here.
    if (IsTrustedFolderSid(sid) || ::IsWellKnownSid(sid, WinCreatorOwnerRightsSid)) continue;
    ACCESS_MASK rights = allowed->Mask;
    ::MapGenericMask(&rights, &fileMapping);
    if (rights & (kChangingRights | MAXIMUM_ALLOWED)) return false;
  }
  return true;
}

bool ReadSecurity(HANDLE handle, std::vector<BYTE>* descriptor) {
  const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  ::GetKernelObjectSecurity(handle, wanted, nullptr, 0, &needed);
  if (needed == 0 || needed > 65536) return false;
  descriptor->assign(needed, 0);
  return ::GetKernelObjectSecurity(handle, wanted, descriptor->data(), needed, &needed) != 0;
}

void SetSecurityReaderForTesting(SecurityReader reader) { securityReader = reader; }

bool FolderChainHolds(HANDLE folder, const std::wstring& path) {
  if (!securityReader && RunsUnderWine()) return true;
  const SecurityReader read = securityReader ? securityReader : &ReadSecurity;
  std::vector<BYTE> descriptor;
  if (!read(folder, &descriptor) || !FolderDescriptorHolds(descriptor.data())) return false;
  // Each folder above, up to the root of the drive.
  std::wstring::size_type end = path.size();
  if (end > 3 && path[end - 1] == L'\\') --end;
  while (end > 3) {
    end = path.rfind(L'\\', end - 1);
    if (end == std::wstring::npos || end < 2) return false;
    const std::wstring above = path.substr(0, end + 1);
    ScopedFileHandle handle(::CreateFileW(
        above.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    if (!handle.IsValid() || !read(handle.Get(), &descriptor) ||
        !FolderDescriptorHolds(descriptor.data())) {
      return false;
    }
  }
  return true;
}

bool VolumeKeepsAccessLists(HANDLE handle) {
  VolumeFacts facts;
  const bool read = volumeReader ? volumeReader(handle, &facts) : ReadVolumeFacts(handle, &facts);
  return read && facts.persistentAcls && facts.local;
}

bool TempFolder::Open(const std::wstring& path, bool checked, DWORD* error) {
  *error = 0;
  handle_.Reset();
  // Backup semantics open a directory; without delete sharing nobody can
  // rename or remove it while it is held. Reading and writing are shared:
  // other programs keep using the temporary folder.
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (checked ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  handle_.Reset(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE |
                                                FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                              nullptr));
  if (!handle_.IsValid()) {
    *error = ::GetLastError();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(handle_.Get(), &information)) {
    *error = ::GetLastError();
    handle_.Reset();
    return false;
  }
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = ERROR_DIRECTORY;
    handle_.Reset();
    return false;
  }
  if (!checked) {
    path_ = path;
    return true;
  }
  // A link could be pointed elsewhere at any moment; links above the
  // folder are resolved into the final path, which the run then uses.
  std::wstring final = FinalPath(handle_.Get());
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !IsDriveRoot(final) ||
      !VolumeKeepsAccessLists(handle_.Get()) || !FolderChainHolds(handle_.Get(), final)) {
    handle_.Reset();
    return false;
  }
  if (final.back() != L'\\') final += L'\\';
  path_ = final;
  return true;
}

bool OpenRunTempFolder(bool elevated, MachineValueReader reader, TempFolder* folder,
                       std::wstring* refused, DWORD* error) {
  if (!elevated) {
    *refused = SystemTemporaryFolder();
    return folder->Open(*refused, false, error);
  }
  const std::wstring windows = SystemWindowsFolder();
  RegistryString value = reader(L"TMP");
  if (!value.present) value = reader(L"TEMP");
  const std::wstring machine = MachineTempFolderFromValue(value, windows);
  if (!machine.empty() && folder->Open(machine, true, error)) return true;
  *refused = windows + L"\\TEMP\\";
  return folder->Open(*refused, true, error);
}

}  // namespace kv
