// Internal to the string library: the first pass of ZkString::FormatV, an
// estimate of the length of printf-style output made without formatting.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace zk_format {

// Walks `format` and a private copy of `args` and returns an upper bound of
// the length of what the C runtime's formatter (msvcrt) writes for the usual
// conversions:
//   - a character other than "%", and a "%%" pair, count 1; a "#" flag adds 2;
//   - "c" and "C": 2; "s" and "S": the text's length (at least 1; 6 for a
//     null pointer, which is written "(null)"); each first capped at a
//     non-zero precision and then raised to the width;
//   - "d i o u x X p": the larger of 32 and width + precision;
//   - "e E f g G a A": the larger of 128 and width + precision;
//   - "n" and characters the walk does not know: 0.
// Widths and precisions come from the format or, for "*", from the next int
// argument; a negative width is a field of its magnitude, a negative
// precision is none. The size prefixes are those of the runtime's formatter,
// any number of them in a row: F, N, h, l, L, w, z, t, I and I32 change no
// argument size (L takes a double, as the runtime's long double is one);
// ll and I64 take 64-bit integers and pointers, j 64-bit integers; l and w
// make "c" and "s" wide, h narrow. So every argument is taken with the size
// the formatter takes it with.
//
// A text with a precision ("%.3s") is read no further than the precision
// (a NUL within it ends it earlier), because the formatter reads no further
// and the argument need not be terminated.
//
// The bound does NOT hold for a floating value needing more than 128
// characters, for conversions the formatter writes literally, for wide texts
// that convert to more bytes than characters, or for the sign or blank of a
// "d" or "i" that comes on top of a precision of 32 or more digits (the
// estimate counts width + precision only); the caller must bound its output
// itself. `args` is not consumed. The result is at most 0x3FFFFFFF.
//
// With `textInWatched`, also sets *textInWatched to true when the pointer of
// a text conversion lies in the watched bytes [watchedFirst, watchedFirst +
// watchedSize) (and leaves it alone otherwise).
int EstimateFormattedLength(const char* format, va_list args, const char* watchedFirst = nullptr,
                            std::size_t watchedSize = 0, bool* textInWatched = nullptr);

}  // namespace zk_format
