#include "payload/stagerun/stage_contract.h"

#include "platform/win32.h"

namespace kv {

std::string FirstQuotedValue(const std::string& commandLine, const std::string& key) {
  const std::string head = key + "=\"";
  const size_t at = commandLine.find(head);
  if (at == std::string::npos) return std::string();
  const size_t start = at + head.size();
  const size_t end = commandLine.find('"', start);
  return end == std::string::npos ? std::string() : commandLine.substr(start, end - start);
}

std::wstring CleanupCommandLine(const std::wstring& cmd, const std::wstring& script,
                                unsigned long processId) {
  return L"\"" + cmd + L"\" /d /v:off /c \"\"" + script + L"\" " + std::to_wstring(processId) +
         L"\"";
}

bool StartCleanupScript(const std::string& script) {
  wchar_t windows[MAX_PATH];
  const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  const std::wstring windowsFolder(windows, length);
  const std::wstring cmd = windowsFolder + L"\\System32\\cmd.exe";
  const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, script.c_str(), -1, nullptr, 0);
  if (wideLength <= 1) return false;
  std::wstring wideScript(static_cast<size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, script.c_str(), -1, &wideScript[0], wideLength);
  wideScript.resize(static_cast<size_t>(wideLength) - 1);
  std::wstring commandLine = CleanupCommandLine(cmd, wideScript, ::GetCurrentProcessId());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(cmd.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, windowsFolder.c_str(), &startup, &info)) {
    return false;
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return true;
}

}  // namespace kv
