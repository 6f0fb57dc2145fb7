// Stand-in for the second stage, StageRun.exe, for the tests, the demo and
// the benchmarks only (the publishers' bundles ship example_stage.cpp): the
// environment chooses its record file, which it replaces. It does what a
// real second stage does with what the launcher hands it (the first
// ResourceFile= and CleanUp=), and records it so that tests and the demo
// can read it:
//   1. its command line and its current directory (the work folder);
//   2. the files it finds there;
//   3. the archives left for it in the executable that ResourceFile= names
//      (APPBASE, PHOTOUNINST), read with the archive format code;
//   4. then it starts the cleanup script that CleanUp= names by the
//      contract of stage_contract.h, with its own process id as the
//      script's argument, and ends; the script's holdproc line waits for it
//      before anything is deleted.
//
// The record goes to the file that the environment variable
// KV_STAGERUN_RECORD names, else to stagerun-received.txt in the current
// directory's parent. It is written under a temporary name and renamed, so a
// reader never sees half a record. Lines (CR LF), "Key=value":
//   StartCounter=<QueryPerformanceCounter at start>, CommandLine=, CurrentDirectory=, ResourceFile=, CleanUp=,
//   File=<name below the current directory> (one per file),
//   Archive=<name>: <n> entries (one per archive left for the second stage),
//   Entry=<archive>\<entry name> (one per entry),
//   Script=<line> (one per line of the cleanup script, as it was handed over),
//   CleanupStarted=yes|no|skipped
// KV_STAGERUN_NO_CLEANUP=1 skips step 4 (for tests that inspect the files).
// KV_STAGERUN_PROBE_SETUP=1 adds, before step 4 and once the launcher has
// ended, what another process could do to the file ResourceFile= names:
//   SetupWrite=, SetupRename=, SetupDelete= (done | refused <error>),
//   SetupRead=<bytes read, the whole file> | failed
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "payload/stagerun/stage_contract.h"
#include "pe/pe_resources.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

#include <tlhelp32.h>

namespace {

std::string EnvironmentValue(const char* name) {
  char buffer[1024];
  DWORD n = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

void ListFiles(const std::string& folder, const std::string& prefix, std::string* record) {
  WIN32_FIND_DATAA data;
  kv::ScopedFindHandle find(::FindFirstFileA((folder + "\\*").c_str(), &data));
  if (!find.IsValid()) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(folder + "\\" + name, prefix + name + "\\", record);
    } else {
      *record += "File=" + prefix + name + "\r\n";
    }
  } while (::FindNextFileA(find.Get(), &data));
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  kv::ScopedFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  const DWORD size = ::GetFileSize(file.Get(), nullptr);
  if (size == INVALID_FILE_SIZE) return false;
  bytes->resize(size);
  DWORD read = 0;
  return size == 0 || (::ReadFile(file.Get(), bytes->data(), size, &read, nullptr) && read == size);
}

void ListLeftArchives(const std::string& resourceFile, std::string* record) {
  kv::ScopedFileHandle file(::CreateFileA(resourceFile.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
      static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) {
    *record += "Archive=cannot read " + resourceFile + "\r\n";
    return;
  }
  kv::ScopedKernelHandle mapping(
      ::CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  kv::ScopedMappedView view(mapping.IsValid()
                                ? ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0)
                                : nullptr);
  if (!view.IsValid()) {
    *record += "Archive=cannot map " + resourceFile + "\r\n";
    return;
  }
  const uint8_t* image = static_cast<const uint8_t*>(view.Get());
  std::vector<kv::PeResource> resources;
  std::string error;
  if (!kv::FindPeResources(image, static_cast<size_t>(size.QuadPart),
                           kv::kArchiveResourceTypeStored, &resources, &error)) {
    *record += "Archive=" + error + "\r\n";
    return;
  }
  for (const char* const* name = kv::kSecondStageArchives; *name; ++name) {
    for (const kv::PeResource& resource : resources) {
      if (resource.name != *name) continue;
      const kv::ArchiveDirectory directory = kv::ReadArchiveDirectory(resource.data, resource.size);
      if (!directory.ok()) {
        *record += "Archive=" + resource.name + ": " + directory.error + "\r\n";
        continue;
      }
      const size_t count = directory.entries.size();
      *record += "Archive=" + resource.name + ": " + std::to_string(count) +
                 (count == 1 ? " entry\r\n" : " entries\r\n");
      for (const kv::ArchiveEntry& entry : directory.entries)
        *record += "Entry=" + resource.name + "\\" + entry.name + "\r\n";
    }
  }
}

void RecordScript(const std::string& script, std::string* record) {
  std::vector<uint8_t> bytes;
  if (script.empty() || !ReadWholeFile(script, &bytes)) return;
  std::string text(bytes.begin(), bytes.end());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    *record += "Script=" + text.substr(start, end - start) + "\r\n";
    start = end + 2;
  }
}

// The process that started this one (the launcher), or 0.
DWORD ParentProcessId() {
  kv::ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return 0;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  const DWORD self = ::GetCurrentProcessId();
  for (BOOL more = ::Process32First(snapshot.Get(), &entry); more;
       more = ::Process32Next(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
  }
  return 0;
}

std::string Outcome(bool done) {
  return done ? "done" : "refused " + std::to_string(::GetLastError());
}

// What another process could do to the setup file once the launcher has
// ended: write it, rename it, delete it; then it reads it whole.
void ProbeSetupFile(const std::string& resourceFile, std::string* record) {
  kv::ScopedKernelHandle launcher(::OpenProcess(SYNCHRONIZE, FALSE, ParentProcessId()));
  if (launcher.IsValid()) ::WaitForSingleObject(launcher.Get(), 60000);
  kv::ScopedFileHandle writer(::CreateFileA(resourceFile.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
  *record += "SetupWrite=" + Outcome(writer.IsValid()) + "\r\n";
  writer.Reset();
  const std::string moved = resourceFile + ".moved";
  const bool renamed = ::MoveFileExA(resourceFile.c_str(), moved.c_str(), 0) != 0;
  *record += "SetupRename=" + Outcome(renamed) + "\r\n";
  if (renamed) ::MoveFileExA(moved.c_str(), resourceFile.c_str(), 0);
  *record += "SetupDelete=" + Outcome(::DeleteFileA(resourceFile.c_str()) != 0) + "\r\n";
  std::vector<uint8_t> bytes;
  *record += "SetupRead=" +
             (ReadWholeFile(resourceFile, &bytes) ? std::to_string(bytes.size()) : "failed") +
             "\r\n";
}

bool WriteRecord(const std::string& target, const std::string& record) {
  const std::string partial = target + ".partial";
  {
    kv::ScopedFileHandle file(::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    DWORD written = 0;
    if (!::WriteFile(file.Get(), record.data(), static_cast<DWORD>(record.size()), &written,
                     nullptr) ||
        written != record.size())
      return false;
  }
  return ::MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // When the second stage started, on the machine's performance counter
  // (the same for every process), so that a benchmark can time the launcher.
  LARGE_INTEGER startCounter;
  ::QueryPerformanceCounter(&startCounter);
  char directory[MAX_PATH * 2] = "";
  ::GetCurrentDirectoryA(sizeof directory, directory);
  const std::string commandLine = ::GetCommandLineA();
  const std::string resourceFile = kv::FirstQuotedValue(commandLine, "ResourceFile");
  const std::string cleanup = kv::FirstQuotedValue(commandLine, "CleanUp");

  std::string record = "StartCounter=" + std::to_string(startCounter.QuadPart) + "\r\n";
  record += "CommandLine=" + commandLine + "\r\n";
  record += "CurrentDirectory=" + std::string(directory) + "\r\n";
  record += "ResourceFile=" + resourceFile + "\r\n";
  record += "CleanUp=" + cleanup + "\r\n";
  ListFiles(directory, "", &record);
  if (!resourceFile.empty()) ListLeftArchives(resourceFile, &record);
  RecordScript(cleanup, &record);
  if (EnvironmentValue("KV_STAGERUN_PROBE_SETUP") == "1" && !resourceFile.empty())
    ProbeSetupFile(resourceFile, &record);

  std::string target = EnvironmentValue("KV_STAGERUN_RECORD");
  if (target.empty()) target = std::string(directory) + "\\..\\stagerun-received.txt";

  // The script deletes nothing until this process has ended (its holdproc
  // line waits for it), so the record can follow the start.
  const bool skip = EnvironmentValue("KV_STAGERUN_NO_CLEANUP") == "1" || cleanup.empty();
  const bool started = !skip && kv::StartCleanupScript(cleanup);
  record += std::string("CleanupStarted=") + (skip ? "skipped" : started ? "yes" : "no") + "\r\n";
  if (!WriteRecord(target, record)) return 2;
  return skip || started ? 0 : 3;
}
