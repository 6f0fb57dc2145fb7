#include "tests/support/program_run.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <set>

#include "platform/scoped_handle.h"

namespace kv::test {
namespace {

bool SameName(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(),
                                                  static_cast<int>(a.size()), b.data(),
                                                  static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], n,
                        nullptr, nullptr);
  return narrow;
}

}  // namespace

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::vector<wchar_t> WideEnvironmentBlock(
    const std::vector<std::pair<std::string, std::string>>& changes,
    const std::vector<std::pair<std::wstring, std::wstring>>& wideChanges) {
  std::vector<std::wstring> entries;
  wchar_t* block = ::GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p; p += std::wcslen(p) + 1) entries.emplace_back(p);
  ::FreeEnvironmentStringsW(block);

  std::vector<std::pair<std::wstring, std::wstring>> all;
  for (const auto& change : changes) all.emplace_back(Widen(change.first), Widen(change.second));
  all.insert(all.end(), wideChanges.begin(), wideChanges.end());
  for (const auto& change : all) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::wstring& entry) {
                                   // Entries like "=C:=C:\x" have no name of ours.
                                   std::wstring::size_type eq = entry.find(L'=', 1);
                                   return eq != std::wstring::npos &&
                                          SameName(entry.substr(0, eq), change.first);
                                 }),
                  entries.end());
    if (!change.second.empty()) entries.push_back(change.first + L"=" + change.second);
  }
  std::vector<wchar_t> result;
  for (const std::wstring& entry : entries) {
    result.insert(result.end(), entry.begin(), entry.end());
    result.push_back(L'\0');
  }
  result.push_back(L'\0');
  return result;
}

std::vector<char> EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& changes) {
  const std::vector<wchar_t> wide = WideEnvironmentBlock(changes, {});
  std::vector<char> result;
  for (const wchar_t* p = wide.data(); *p; p += std::wcslen(p) + 1) {
    const std::string entry = Narrow(p);
    result.insert(result.end(), entry.begin(), entry.end());
    result.push_back('\0');
  }
  result.push_back('\0');
  return result;
}

namespace {

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096];
  int n = ::GetWindowTextW(window, buffer, 4096);
  return std::wstring(buffer, n > 0 ? n : 0);
}

std::wstring ClassName(HWND window) {
  wchar_t buffer[256];
  int n = ::GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, n > 0 ? n : 0);
}

struct BoxParts {
  std::wstring text;
  std::vector<HWND> buttons;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* parts = reinterpret_cast<BoxParts*>(param);
  const std::wstring cls = ClassName(child);
  if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    parts->buttons.push_back(child);
  } else if (_wcsicmp(cls.c_str(), L"Static") == 0) {
    std::wstring text = WindowText(child);
    if (text.size() > parts->text.size()) parts->text = text;
  }
  return TRUE;
}

struct BoxSearch {
  DWORD processId;
  std::vector<HWND> boxes;
};

BOOL CALLBACK FindBoxes(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && ::IsWindowVisible(window) &&
      ClassName(window) == L"#32770") {
    search->boxes.push_back(window);
  }
  return TRUE;
}

void AnswerBoxes(DWORD processId, const ProgramRun& run, std::set<HWND>* answered,
                 std::vector<MessageBoxSeen>* seen) {
  BoxSearch search{processId, {}};
  ::EnumWindows(&FindBoxes, reinterpret_cast<LPARAM>(&search));
  for (HWND box : search.boxes) {
    if (answered->count(box)) continue;
    BoxParts parts;
    ::EnumChildWindows(box, &CollectChild, reinterpret_cast<LPARAM>(&parts));
    if (parts.buttons.empty()) continue;  // a dialog without buttons is no message box
    MessageBoxSeen item;
    item.caption = WindowText(box);
    item.text = parts.text;
    int button = run.answer ? run.answer(item) : ::GetDlgCtrlID(parts.buttons.front());
    if (button == 0) continue;
    item.pressed = button;
    answered->insert(box);
    seen->push_back(item);
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
  }
}

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

ProgramResult RunProgram(const ProgramRun& run) {
  ProgramResult result;
  const std::wstring program = run.wideProgram.empty() ? Widen(run.program) : run.wideProgram;
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!run.commandTail.empty()) commandLine += L" " + Widen(run.commandTail);
  std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back(L'\0');
  std::vector<wchar_t> environment = WideEnvironmentBlock(run.environment, run.wideEnvironment);
  const std::wstring directory = Widen(run.currentDirectory);

  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  if (!::CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT |
                            (run.whileSuspended ? CREATE_SUSPENDED : 0),
                        environment.data(), directory.empty() ? nullptr : directory.c_str(),
                        &startup, &info)) {
    return result;
  }
  result.started = true;
  ScopedKernelHandle process(info.hProcess);
  ScopedKernelHandle thread(info.hThread);
  if (run.whileSuspended) {
    run.whileSuspended();
    ::ResumeThread(info.hThread);
  }

  std::set<HWND> answered;
  const DWORD start = ::GetTickCount();
  for (;;) {
    DWORD wait = ::MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, 20, QS_ALLINPUT);
    PumpMessages();
    if (wait == WAIT_OBJECT_0) break;
    AnswerBoxes(info.dwProcessId, run, &answered, &result.boxes);
    if (run.whileRunning) run.whileRunning(info.dwProcessId);
    if (::GetTickCount() - start > run.timeoutMs) {
      ::TerminateProcess(process.Get(), 255);
      ::WaitForSingleObject(process.Get(), 5000);
      return result;
    }
  }
  result.finished = true;
  ::GetExitCodeProcess(process.Get(), &result.exitCode);
  return result;
}

std::wstring FromCp1252(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  int n = ::MultiByteToWideChar(1252, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  ::MultiByteToWideChar(1252, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], n);
  return wide;
}

std::string GetEnv(const char* name) {
  char buffer[2048];
  DWORD n = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

bool WaitForFile(const std::string& path, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    PumpMessages();
  }
  return true;
}

}  // namespace kv::test
