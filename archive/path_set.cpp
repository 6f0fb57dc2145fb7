#include "archive/path_set.h"

#include "archive/name_case.h"

namespace kv {

bool PathSet::Insert(const std::string& path) { return paths_.insert(FoldNameCase(path)).second; }

bool PathSet::Contains(const std::string& path) const {
  return paths_.count(FoldNameCase(path)) != 0;
}

}  // namespace kv
