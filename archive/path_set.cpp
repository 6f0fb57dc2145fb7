#include "archive/path_set.h"

#include "platform/win32.h"

namespace kv {

std::wstring PathSet::Folded(const std::string& path) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()),
                                           nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (length > 0) {
    ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &wide[0], length);
    ::CharUpperBuffW(&wide[0], static_cast<DWORD>(length));
  }
  return wide;
}

bool PathSet::Insert(const std::string& path) { return paths_.insert(Folded(path)).second; }

bool PathSet::Contains(const std::string& path) const {
  return paths_.count(Folded(path)) != 0;
}

}  // namespace kv
