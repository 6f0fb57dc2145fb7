// Internal to the string library: the first pass of ZkString::FormatV, an
// estimate of the length of printf-style output made without formatting.
#pragma once

#include <cstdarg>

namespace zk_format {

// Walks `format` and a private copy of `args` and returns an upper bound of
// the output length for the usual conversions:
//   - a character other than "%", and a "%%" pair, count 1; a "#" flag adds 2;
//   - "c": 2, "s": its strlen (at least 1; 6 for a null pointer, which is
//     written "(null)"), each first capped at a non-zero precision and then
//     raised to the width;
//   - "d i o u x X p": the larger of 32 and width + precision;
//   - "e E f F g G a A": the larger of 128 and width + precision;
//   - "n" and characters the formatter does not know: 0.
// Widths and precisions come from the format or, for "*", from the next int
// argument. Size prefixes are those of the formatter (h hh l ll L I I32 I64
// j z t), so every argument is taken with the size the formatter will take it
// with: 64-bit integers for ll, I64 and j; long double for L with a floating
// conversion; wide texts for "ls" and "S".
//
// The bound does NOT hold for a negative width or precision taken through
// "*", for a floating value needing more than 128 characters, for
// conversions the formatter writes literally, or for the sign or blank of a
// "d", "i" or "p" and the "0x" of a "p" that come on top of a precision of
// 32 or more digits (the estimate counts width + precision only); the caller
// must bound its output itself. `args` is not consumed. The result is at
// most 0x3FFFFFFF.
int EstimateFormattedLength(const char* format, va_list args);

}  // namespace zk_format
