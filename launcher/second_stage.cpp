#include "launcher/second_stage.h"

#include <string>

namespace kv {

ZkString FormatSecondStageParameters(const char* programPath, const char* scriptPath,
                                     const char* commandTail) {
  ZkString parameters;
  parameters.Format(
      "KVSetup SetupProgram=VIVivir Wnd=Normal Server=None Wnd=Maximized "
      "ResourceFile=\"%s\" CleanUp=\"%s\" %s",
      programPath, scriptPath, commandTail);
  return parameters;
}

DWORD LaunchSecondStage(const char* programPath, const char* parameters, const char* workFolder) {
  // The program is named in full as the application, so the system opens
  // exactly that file; the command line only carries it for the program's
  // own reading, as the shell would pass it.
  std::string commandLine = std::string("\"") + programPath + "\" " + parameters;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(programPath, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workFolder, &startup, &process)) {
    const DWORD error = ::GetLastError();
    return error ? error : ERROR_FILE_NOT_FOUND;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return 0;
}

}  // namespace kv
