// Internal to the string library: facts about string blocks shared by its
// source files. Not part of the exported interface.
#pragma once

#include "zkstring/zk_string.h"

namespace zk_string_block {

// Count values with a meaning of their own.
constexpr long kLockedCount = -1;
constexpr long kEmptyBlockCount = -2;

inline ZkStringData* HeaderOf(const char* chars) {
  return reinterpret_cast<ZkStringData*>(const_cast<char*>(chars)) - 1;
}

inline bool IsEmptyBlock(const ZkStringData* data) {
  return data->refCount == kEmptyBlockCount;
}

// Sets the length and stores the terminator behind it. The shared empty block
// is left as it is: its length is 0 already and it is never written, even
// with the values it holds.
inline void SetLength(ZkStringData* data, int length) {
  if (IsEmptyBlock(data)) return;
  data->dataLength = length;
  data->data()[length] = '\0';
}

}  // namespace zk_string_block
