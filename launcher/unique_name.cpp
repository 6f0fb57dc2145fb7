#include "launcher/unique_name.h"

#include <io.h>

#include <cstdlib>
#include <cstring>

#include "platform/system_library.h"

namespace kv {
namespace {

bool generatorSeeded = false;

}  // namespace

ZkString MakeUniqueName(const char* pattern) {
  if (!generatorSeeded) {
    std::srand(MilliClock());
    generatorSeeded = true;
  }
  // The prefix (the temporary folder) may itself hold "%d"; only the last
  // one, in the fixed suffix, takes the number.
  const char* marker = nullptr;
  for (const char* p = std::strstr(pattern, "%d"); p; p = std::strstr(p + 1, "%d")) marker = p;
  const ZkString prefix(pattern, marker ? static_cast<int>(marker - pattern)
                                        : static_cast<int>(std::strlen(pattern)));
  const char* suffix = marker ? marker + 2 : "";

  ZkString candidate;
  for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
    const int number = attempt == 0 ? 0 : std::rand();
    candidate.Format("%s%d%s", static_cast<const char*>(prefix), number, suffix);
    if (_access(candidate, 0) != 0) return candidate;
  }
  return ZkString();
}

}  // namespace kv
