// A set of paths compared as the file system compares names: without
// regard to case ("Data\A.txt" and "DATA\a.TXT" are one file).
#pragma once

#include <string>
#include <unordered_set>

namespace kv {

class PathSet {
 public:
  // Adds `path` (ANSI); false when it, in any case, was in the set already.
  bool Insert(const std::string& path);
  bool Contains(const std::string& path) const;

 private:
  static std::wstring Folded(const std::string& path);
  std::unordered_set<std::wstring> paths_;
};

}  // namespace kv
