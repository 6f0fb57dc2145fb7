#include "tests/support/machine_temp.h"

#include <vector>

#include "tests/support/program_run.h"

namespace kv::test {
namespace {

const wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

bool Read(const wchar_t* name, DWORD* type, std::wstring* data) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  DWORD bytes = 0;
  bool found = ::RegQueryValueExW(key, name, nullptr, type, nullptr, &bytes) == ERROR_SUCCESS;
  if (found) {
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    found = ::RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer.data()),
                               &bytes) == ERROR_SUCCESS;
    data->assign(buffer.data());
  }
  ::RegCloseKey(key);
  return found;
}

}  // namespace

bool ScopedMachineTemp::SetValue(const wchar_t* name, DWORD type, const std::wstring& data,
                                 bool remove) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG result;
  if (remove) {
    result = ::RegDeleteValueW(key, name);
    if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
  } else {
    result = ::RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  ::RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

ScopedMachineTemp::ScopedMachineTemp(const std::wstring& folder) {
  tmp_.present = Read(L"TMP", &tmp_.type, &tmp_.data);
  temp_.present = Read(L"TEMP", &temp_.type, &temp_.data);
  SetValue(L"TMP", REG_SZ, folder);
  SetValue(L"TEMP", REG_SZ, folder);
}

ScopedMachineTemp::ScopedMachineTemp(const std::string& folder)
    : ScopedMachineTemp(Widen(folder)) {}

ScopedMachineTemp::~ScopedMachineTemp() {
  SetValue(L"TMP", tmp_.type, tmp_.data, !tmp_.present);
  SetValue(L"TEMP", temp_.type, temp_.data, !temp_.present);
}

}  // namespace kv::test
