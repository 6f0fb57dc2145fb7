// Names that nothing in the temporary folder uses yet.
#pragma once

#include "zkstring/zk_string.h"

namespace kv {

// How many candidates MakeUniqueName tests before it gives up.
constexpr int kUniqueNameAttempts = 1000;

// Returns `pattern` with a number in place of its last "%d" such that no
// file or folder of that name exists, or the empty text when 1000
// candidates were all taken. The first candidate is 0; the later ones are
// drawn from the C runtime's rand(), which the first call of the process
// seeds from timeGetTime() (and no later call seeds again). Everything but
// the "%d" is taken literally. Creates nothing.
ZkString MakeUniqueName(const char* pattern);

}  // namespace kv
