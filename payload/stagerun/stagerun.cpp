// Stand-in for the second stage, StageRun.exe: it records what the launcher
// handed it (its command line and its current directory) so that tests and
// the demo can read it, and ends.
//
// The record goes to the file that the environment variable
// KV_STAGERUN_RECORD names, else to stagerun-received.txt in the current
// directory. It is written under a temporary name and then renamed, so a
// reader never sees half a record. Lines (CR LF):
//   CommandLine=<the whole command line>
//   CurrentDirectory=<the current directory>
#include <string>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace {

std::string EnvironmentValue(const char* name) {
  char buffer[1024];
  DWORD n = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
  kv::ScopedFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  DWORD written = 0;
  return ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) &&
         written == text.size();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char directory[MAX_PATH * 2] = "";
  ::GetCurrentDirectoryA(sizeof directory, directory);

  std::string record = "CommandLine=";
  record += ::GetCommandLineA();
  record += "\r\nCurrentDirectory=";
  record += directory;
  record += "\r\n";

  std::string target = EnvironmentValue("KV_STAGERUN_RECORD");
  if (target.empty()) target = std::string(directory) + "\\stagerun-received.txt";
  const std::string partial = target + ".partial";
  if (!WriteWholeFile(partial, record)) return 2;
  if (!::MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return 3;
  return 0;
}
