#include "bench/timed_run.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/scoped_handle.h"
#include "tests/support/machine_temp.h"
#include "tests/support/program_run.h"
#include "tests/support/scoped_folder.h"

// After platform/win32.h, which includes <windows.h> for the whole program.
#include <psapi.h>
#include <tlhelp32.h>

namespace kv::bench {
namespace {

// How often a running program is looked at: its memory is sampled and the
// record looked for. The time measured does not depend on it, since the
// second stage stamps its own start.
constexpr DWORD kPollMs = 5;

void SampleMemory(HANDLE process, TimedRun* run) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(process, &counters, sizeof counters)) return;
  run->peakWorkingSet = std::max<std::uint64_t>(run->peakWorkingSet, counters.PeakWorkingSetSize);
  run->peakPagefileUsage =
      std::max<std::uint64_t>(run->peakPagefileUsage, counters.PeakPagefileUsage);
}

// The value of the record line "key=value", or empty.
std::string RecordValue(const std::string& record, const std::string& key) {
  const std::string head = key + "=";
  size_t at = record.compare(0, head.size(), head) == 0 ? 0 : record.find("\n" + head);
  if (at == std::string::npos) return std::string();
  if (at != 0) ++at;
  const size_t start = at + head.size();
  const size_t end = record.find_first_of("\r\n", start);
  return record.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Processes running StageRun.exe. The benchmark's Wine prefix runs nothing
// else of that name.
std::vector<DWORD> SecondStageProcesses() {
  std::vector<DWORD> ids;
  ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return ids;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot.Get(), &entry); more;
       more = ::Process32Next(snapshot.Get(), &entry)) {
    if (_stricmp(entry.szExeFile, "StageRun.exe") == 0) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

bool WaitForSecondStagesToEnd(DWORD deadline) {
  for (DWORD id : SecondStageProcesses()) {
    ScopedKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process.IsValid()) continue;  // already gone
    const DWORD now = ::GetTickCount();
    const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
    if (::WaitForSingleObject(process.Get(), left) != WAIT_OBJECT_0) return false;
  }
  return true;
}

}  // namespace

void CountTree(const std::string& folder, std::uint64_t* files, std::uint64_t* bytes) {
  WIN32_FIND_DATAA data;
  ScopedFindHandle find(::FindFirstFileA((folder + "\\*").c_str(), &data));
  if (!find.IsValid()) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CountTree(folder + "\\" + name, files, bytes);
    } else {
      ++*files;
      *bytes += (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
  } while (::FindNextFileA(find.Get(), &data));
}

TimedRun RunTimed(const std::string& program, const std::string& tempFolder,
                  const std::string& recordPath, DWORD timeoutMs) {
  TimedRun run;
  // Every run is elevated under Wine: the launcher's temporary folder is
  // the machine's, set for the time of the run; the reference extractor
  // takes the process's TMP.
  kv::test::ScopedMachineTemp machineTemp(tempFolder);
  std::vector<char> environment =
      kv::test::EnvironmentBlock({{"TMP", tempFolder},
                                  {"TEMP", tempFolder},
                                  {"KV_STAGERUN_RECORD", recordPath},
                                  {"KV_STAGERUN_NO_CLEANUP", "1"}});
  std::string commandLine = "\"" + program + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  LARGE_INTEGER frequency, before;
  ::QueryPerformanceFrequency(&frequency);

  ::QueryPerformanceCounter(&before);
  if (!::CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                        environment.data(), tempFolder.c_str(), &startup, &info)) {
    run.error = "cannot start " + program + " (error " + std::to_string(::GetLastError()) + ")";
    return run;
  }
  ScopedKernelHandle process(info.hProcess);
  ScopedKernelHandle thread(info.hThread);

  const DWORD deadline = ::GetTickCount() + timeoutMs;
  bool recorded = false;
  bool exited = false;
  while (!(recorded && exited)) {
    SampleMemory(process.Get(), &run);
    if (!recorded) recorded = ::GetFileAttributesA(recordPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!exited) exited = ::WaitForSingleObject(process.Get(), kPollMs) == WAIT_OBJECT_0;
    else ::Sleep(kPollMs);
    if (static_cast<LONG>(::GetTickCount() - deadline) > 0) break;
  }
  SampleMemory(process.Get(), &run);  // Windows still answers for an ended process
  if (!exited) {
    ::TerminateProcess(process.Get(), 255);
    ::WaitForSingleObject(process.Get(), 5000);
    run.error = program + " still ran after " + std::to_string(timeoutMs) + " ms";
    return run;
  }
  ::GetExitCodeProcess(process.Get(), &run.exitCode);
  if (!recorded) {
    run.error = "no second stage started within " + std::to_string(timeoutMs) +
                " ms (exit code " + std::to_string(run.exitCode) + ")";
    return run;
  }
  if (!WaitForSecondStagesToEnd(deadline)) {
    run.error = "StageRun.exe still ran after " + std::to_string(timeoutMs) + " ms";
    return run;
  }

  std::string record;
  if (!kv::test::ReadWholeFile(recordPath, &record)) {
    run.error = "cannot read " + recordPath;
    return run;
  }
  const std::string counter = RecordValue(record, "StartCounter");
  if (counter.empty()) {
    run.error = "the record has no StartCounter line";
    return run;
  }
  const long long started = std::strtoll(counter.c_str(), nullptr, 10);
  run.msToSecondStage = static_cast<double>(started - before.QuadPart) * 1000.0 /
                        static_cast<double>(frequency.QuadPart);
  run.workFolder = RecordValue(record, "CurrentDirectory");
  CountTree(run.workFolder, &run.filesFound, &run.bytesFound);
  run.ok = true;
  return run;
}

}  // namespace kv::bench
