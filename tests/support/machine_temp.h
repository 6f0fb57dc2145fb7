// The machine's temporary folder of the test's Wine prefix. Under Wine
// every program runs elevated, so a launcher run takes its temporary
// folder from TMP and TEMP of the machine's environment key, never from
// the environment it is started with; a test steers it there.
#pragma once

#include <string>

#include "platform/win32.h"

namespace kv::test {

class ScopedMachineTemp {
 public:
  // Sets the machine's TMP and TEMP to `folder` (REG_SZ) until destroyed,
  // then gives both their earlier values (or removes them, where they had
  // none). Test executables run one at a time, so no other test sees it.
  explicit ScopedMachineTemp(const std::wstring& folder);
  explicit ScopedMachineTemp(const std::string& folder);
  ~ScopedMachineTemp();
  ScopedMachineTemp(const ScopedMachineTemp&) = delete;
  ScopedMachineTemp& operator=(const ScopedMachineTemp&) = delete;

  // Sets `name` (L"TMP" or L"TEMP") of the machine's environment to `data`
  // with `type` (REG_SZ or REG_EXPAND_SZ); with `remove`, deletes it.
  static bool SetValue(const wchar_t* name, DWORD type, const std::wstring& data,
                       bool remove = false);

 private:
  struct Saved {
    bool present = false;
    DWORD type = REG_NONE;
    std::wstring data;
  };
  Saved tmp_;
  Saved temp_;
};

}  // namespace kv::test
