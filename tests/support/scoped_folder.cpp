#include "tests/support/scoped_folder.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kv::test {
namespace {

std::string TempFolder() {
  char buffer[MAX_PATH];
  DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  return std::string(buffer, n);
}

// A name as the ANSI functions can open it: the short form where the code
// page cannot hold the long one.
std::string AnsiName(const WIN32_FIND_DATAA& data) {
  if (std::string(data.cFileName).find('?') != std::string::npos && data.cAlternateFileName[0])
    return data.cAlternateFileName;
  return data.cFileName;
}

void Collect(const std::string& folder, const std::string& prefix, std::vector<std::string>* out) {
  WIN32_FIND_DATAA data;
  ScopedFindHandle find(::FindFirstFileA((folder + "*").c_str(), &data));
  if (!find.IsValid()) return;
  do {
    const std::string name = AnsiName(data);
    if (name == "." || name == "..") continue;
    out->push_back(prefix + name);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      Collect(folder + name + "\\", prefix + name + "\\", out);
  } while (::FindNextFileA(find.Get(), &data));
}

}  // namespace

ScopedFolder::ScopedFolder(const std::string& parent) {
  const std::string base = parent.empty() ? TempFolder() : parent;
  static unsigned counter = 0;
  for (;;) {
    char name[64];
    std::snprintf(name, sizeof name, "kvtest-%lu-%u", ::GetCurrentProcessId(), counter++);
    path_ = base + name;
    if (::CreateDirectoryA(path_.c_str(), nullptr)) break;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  path_ += "\\";
}

ScopedFolder::~ScopedFolder() {
  if (!removed_) Remove();
}

bool ScopedFolder::Remove() {
  removed_ = true;
  return RemoveTree(path_);
}

bool RemoveTree(const std::string& path) {
  std::string bare = path;
  if (!bare.empty() && bare.back() == '\\') bare.pop_back();
  DWORD attributes = ::GetFileAttributesA(bare.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    ::SetFileAttributesA(bare.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ::DeleteFileA(bare.c_str()) != 0;

  std::vector<std::string> children;
  WIN32_FIND_DATAA data;
  {
    ScopedFindHandle find(::FindFirstFileA((bare + "\\*").c_str(), &data));
    if (find.IsValid()) {
      do {
        const std::string name = AnsiName(data);
        if (name != "." && name != "..") children.push_back(bare + "\\" + name);
      } while (::FindNextFileA(find.Get(), &data));
    }
  }
  bool ok = true;
  for (const std::string& child : children) ok = RemoveTree(child) && ok;
  return ::RemoveDirectoryA(bare.c_str()) != 0 && ok;
}

std::string ListTree(const std::string& folder) {
  std::vector<std::string> names;
  Collect(folder, "", &names);
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string& name : names) joined += name + "\n";
  return joined;
}

bool WaitUntilGone(const std::string& path, unsigned long timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::Sleep(20);
  }
  return true;
}

bool CleanupFinished(const std::string& temp) {
  // The script, 0.bat beside the work folder, removes the work folder and
  // then deletes itself.
  return WaitUntilGone(temp + "KVGSetup0", 20000) && WaitUntilGone(temp + "0.bat", 20000) &&
         ListTree(temp).empty();
}

bool ReadWholeFile(const std::string& path, std::string* contents) {
  ScopedFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  contents->clear();
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
    contents->append(buffer, n);
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& contents) {
  ScopedFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  DWORD written = 0;
  return ::WriteFile(file.Get(), contents.data(), static_cast<DWORD>(contents.size()), &written,
                     nullptr) &&
         written == contents.size();
}

}  // namespace kv::test
