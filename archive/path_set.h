// A set of paths compared as the file system compares names: without
// regard to case, over the whole Windows-1252 set ("Data\Ä.txt" and
// "DATA\ä.TXT" are one file; see name_case.h).
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
  std::unordered_set<std::string> paths_;
};

}  // namespace kv
