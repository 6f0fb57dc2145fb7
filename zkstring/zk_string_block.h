// Internal to the string library: facts about string blocks shared by its
// source files. Not part of the exported interface.
#pragma once

#include <climits>
#include <cstdint>
#include <new>

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

// A length or capacity as the block fields hold it. Every length that is
// made by adding or multiplying is computed in 64 bits and passes through
// here: one above INT_MAX characters fits no block and is reported as an
// exhausted heap (std::bad_alloc), before anything is allocated or changed.
inline int FieldLength(long long length) {
  if (length > INT_MAX) throw std::bad_alloc();
  return static_cast<int>(length);
}

// Whether `text` points at one of the characters of `data`'s block, its
// terminator included. Such a text can move or be freed while the block is
// rewritten, so members that rewrite the block copy it first.
inline bool PointsInto(const ZkStringData* data, const char* text) {
  const char* chars = const_cast<ZkStringData*>(data)->data();
  auto at = reinterpret_cast<std::uintptr_t>(text);
  auto first = reinterpret_cast<std::uintptr_t>(chars);
  return at >= first && at - first <= static_cast<std::uintptr_t>(data->allocLength);
}

}  // namespace zk_string_block
