#include <cstdio>

#include "tools/kvpack/host_files.h"

namespace kv {

bool WriteFileIfChanged(const std::string& path, const std::vector<std::uint8_t>& bytes,
                        std::string* error) {
  std::vector<std::uint8_t> old;
  std::string ignored;
  if (ReadWholeFile(path, &old, &ignored) && old == bytes) return true;
  return WriteWholeFile(path, bytes, error);
}

std::string BaseName(const std::string& path) {
  const std::size_t cut = path.find_last_of(PathSeparator() == '\\' ? "/\\" : "/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace kv
