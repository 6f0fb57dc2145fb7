#include "archive/known_folders.h"

#include <vector>

#include "platform/win32.h"

namespace kv {
namespace {

// The path the system reports as the current directory once `path` has
// been entered: its full form (the form CreateFolderPath records).
bool FullPath(const std::string& path, std::string* full) {
  const DWORD needed = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::vector<char> buffer(needed);
  const DWORD length = ::GetFullPathNameA(path.c_str(), needed, buffer.data(), nullptr);
  if (length == 0 || length >= needed) return false;
  full->assign(buffer.data(), length);
  return true;
}

}  // namespace

int KnownFolders::Ensure(const std::string& folder, CreatedFolderList* list) {
  if (known_.Contains(folder)) return 0;

  // The ends of the folder paths still to make, innermost first, up to the
  // deepest folder known to exist.
  std::vector<std::string::size_type> ends{folder.size()};
  for (std::string::size_type end = folder.size();;) {
    const std::string::size_type cut = end > 0 ? folder.rfind('\\', end - 1) : std::string::npos;
    if (cut == std::string::npos || cut < 3) {
      const int result = CreateFolderPath(folder.c_str(), list);
      if (result == 0) known_.Insert(folder);
      return result;
    }
    if (known_.Contains(folder.substr(0, cut))) break;
    ends.push_back(cut);
    end = cut;
  }

  for (auto end = ends.rbegin(); end != ends.rend(); ++end) {
    const std::string path = folder.substr(0, *end);
    if (::CreateDirectoryA(path.c_str(), nullptr)) {
      std::string recorded;
      if (!FullPath(path, &recorded)) {
        // A folder that cannot be named cannot be removed later either.
        ::RemoveDirectoryA(path.c_str());
        return 1;
      }
      if (list) list->push_front(ZkString(recorded.c_str()));
    } else {
      const DWORD attributes = ::GetFileAttributesA(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return 1;
    }
    known_.Insert(path);
  }
  return 0;
}

}  // namespace kv
