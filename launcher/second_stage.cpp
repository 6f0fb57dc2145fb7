#include "launcher/second_stage.h"

#include <string>
#include <vector>

#include "platform/system_library.h"

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

namespace {

// A process attribute list that names the handles a new process inherits:
// one handle here. Empty (Get() null) where the system has no such lists
// or the list cannot be made.
class InheritedHandleList {
 public:
  explicit InheritedHandleList(HANDLE handle) : handle_(handle) {
    using InitializeFn = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
    using UpdateFn = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T,
                                   PVOID, PSIZE_T);
    const auto initialize = reinterpret_cast<InitializeFn>(
        SystemFunction("kernel32.dll", "InitializeProcThreadAttributeList"));
    const auto update = reinterpret_cast<UpdateFn>(
        SystemFunction("kernel32.dll", "UpdateProcThreadAttribute"));
    deleteList_ = reinterpret_cast<DeleteFn>(
        SystemFunction("kernel32.dll", "DeleteProcThreadAttributeList"));
    if (!handle || !initialize || !update || !deleteList_) return;
    SIZE_T size = 0;
    initialize(nullptr, 1, 0, &size);
    if (size == 0) return;
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!initialize(list, 1, 0, &size)) return;
    if (!update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof handle_, nullptr,
                nullptr)) {
      deleteList_(list);
      return;
    }
    list_ = list;
  }
  ~InheritedHandleList() {
    if (list_) deleteList_(list_);
  }
  InheritedHandleList(const InheritedHandleList&) = delete;
  InheritedHandleList& operator=(const InheritedHandleList&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

 private:
  using DeleteFn = void(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);
  HANDLE handle_;  // the list points at this copy, which must outlive it
  DeleteFn deleteList_ = nullptr;
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

DWORD LaunchSecondStage(const char* programPath, const char* parameters, const char* workFolder,
                        HANDLE inherited) {
  // The program is named in full as the application, so the system opens
  // exactly that file; the command line only carries it for the program's
  // own reading, as the shell would pass it.
  std::string commandLine = std::string("\"") + programPath + "\" " + parameters;
  STARTUPINFOEXA startup = {};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_SHOW;
  InheritedHandleList handles(inherited);
  DWORD flags = 0;
  if (handles.Get()) {
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = handles.Get();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(programPath, &commandLine[0], nullptr, nullptr, inherited ? TRUE : FALSE,
                        flags, nullptr, workFolder, &startup.StartupInfo, &process)) {
    const DWORD error = ::GetLastError();
    return error ? error : ERROR_FILE_NOT_FOUND;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return 0;
}

}  // namespace kv
