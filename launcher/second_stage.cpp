#include "launcher/second_stage.h"

#include <cstring>

#include "platform/win32.h"

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

void LaunchSecondStage(const char* parameters) {
  SHELLEXECUTEINFOA info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = 0;
  info.hwnd = nullptr;
  info.lpVerb = "open";
  info.lpFile = kSecondStageProgram;
  info.lpParameters = parameters;
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOW;
  ::ShellExecuteExA(&info);
}

}  // namespace kv
