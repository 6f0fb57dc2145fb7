// Runs a Windows program as a user would meet it: started with
// CreateProcess in a controlled environment, its message boxes read and
// answered while it runs, its exit code collected.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

namespace kv::test {

// A message box that the program showed: caption and text as the screen
// shows them, and the button the test pressed.
struct MessageBoxSeen {
  std::wstring caption;
  std::wstring text;
  int pressed = 0;
};

struct ProgramRun {
  std::string program;           // full path of the executable (ANSI)
  std::wstring wideProgram;      // used instead when set: a path of any characters
  std::string commandTail;       // appended after the quoted program path and one blank
  std::string currentDirectory;  // empty: the test's own
  // Variables set (or, with an empty value, removed) in a copy of this
  // process's environment.
  std::vector<std::pair<std::string, std::string>> environment;
  // Further changes of the same kind in Unicode, applied after those.
  std::vector<std::pair<std::wstring, std::wstring>> wideEnvironment;
  DWORD timeoutMs = 60000;
  // Decides which button to press on a message box (IDOK, IDYES, ...), or 0
  // to leave it open for now (it is offered again). Without a handler every
  // box is answered with the first button it has.
  std::function<int(const MessageBoxSeen&)> answer;
  // Called while the program runs, about every 20 ms, with its process id.
  std::function<void(DWORD processId)> whileRunning;
  // When set, the program is started suspended (its image mapped, none of
  // its code run yet), this is called, and then it runs.
  std::function<void()> whileSuspended;
};

struct ProgramResult {
  bool started = false;
  bool finished = false;  // false: still running at the time-out, then killed
  DWORD exitCode = 0;
  std::vector<MessageBoxSeen> boxes;
};

// A copy of this process's environment with `changes` applied (a variable
// set, or removed when its value is empty; names compared without regard to
// case), as a CreateProcess environment block.
std::vector<char> EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& changes);

// The same in Unicode, with the ANSI changes applied first.
std::vector<wchar_t> WideEnvironmentBlock(
    const std::vector<std::pair<std::string, std::string>>& changes,
    const std::vector<std::pair<std::wstring, std::wstring>>& wideChanges);

// `text` from the ANSI code page into Unicode.
std::wstring Widen(const std::string& text);

// Runs the program to its end, dispatching this thread's messages meanwhile
// (windows of this thread that the program talks to stay responsive).
ProgramResult RunProgram(const ProgramRun& run);

// The text `bytes` (Windows-1252) as the screen shows it.
std::wstring FromCp1252(const std::string& bytes);

// Reads an environment variable of this process; empty when not set.
std::string GetEnv(const char* name);

// Waits up to `timeoutMs` for `path` to exist, dispatching messages.
bool WaitForFile(const std::string& path, DWORD timeoutMs);

}  // namespace kv::test
