// How code that reads a large file through one pointer borrows its bytes
// piece by piece from whoever mapped it, so that only the piece in use is
// held in memory, whatever the file's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kv {

// Lends the bytes [at, at + count) of a mapped file (at points into the
// mapping): returns a pointer to the same bytes, valid until the next call,
// or null when the system cannot give them (it refused a view). The bytes
// lent before are let go. A caller that reads only through the pieces it
// borrowed, in turn, holds one piece in memory at a time.
using PieceLender = std::function<const std::uint8_t*(const std::uint8_t* at, std::size_t count)>;

// The bytes at `at` themselves when nobody lends them.
inline const std::uint8_t* Borrow(const PieceLender& lend, const std::uint8_t* at,
                                  std::size_t count) {
  return lend ? lend(at, count) : at;
}

}  // namespace kv
