// ZkString formatting: printf-style (Format, FormatV), message-style
// (FormatMessageA) and the 16-bit wide view.
#include <cstdio>
#include <cstdlib>

#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "zkstring/zk_format_estimate.h"
#include "zkstring/zk_string.h"
#include "zkstring/zk_string_block.h"

using zk_string_block::FieldLength;
using zk_string_block::IsEmptyBlock;
using zk_string_block::PointsInto;

// FormatV writes with the C runtime's own formatter, _vsnprintf and
// _vscprintf of msvcrt (the import library finds the latter in msvcrt.dll at
// run time), so that programs bound to the class get the text that runtime
// writes (three exponent digits, "L" taking a double, the Microsoft size
// prefixes). The C++ library of the compiler selects its own C99
// formatter for vsnprintf and friends (__USE_MINGW_ANSI_STDIO); the
// underscore names stay those of the runtime unless it is the UCRT.
#if defined(_UCRT)
#error "ZkString::FormatV formats with msvcrt's _vsnprintf"
#endif

void ZkString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

namespace {

// _vsnprintf writes at most `capacity` characters and returns their number
// when the whole output fitted; it stores the terminator only when there
// was room for it, and returns -1 both for output that did not fit and for
// an error. `buffer` has capacity + 1 characters, so the terminator is
// stored here. Returns the length written, or -1.
int FormatInto(char* buffer, int capacity, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int written = _vsnprintf(buffer, static_cast<std::size_t>(capacity), format, copy);
  va_end(copy);
  if (written < 0 || written > capacity) return -1;
  buffer[written] = '\0';
  return written;
}

int MeasureFormatted(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int needed = _vscprintf(format, copy);
  va_end(copy);
  return needed;
}

}  // namespace

void ZkString::FormatV(const char* format, va_list args) {
  ZkStringData* data = GetData();
  bool textInBlock = false;
  int estimate = zk_format::EstimateFormattedLength(
      format, args, chars_, static_cast<std::size_t>(data->allocLength) + 1, &textInBlock);
  // The format or a text argument taken from this string's own block would
  // be overwritten by the output, or freed when the block is replaced: the
  // text is then made in a string of its own, whose block this one takes.
  // (The shared empty block is never written or freed.)
  if (!IsEmptyBlock(data) && (textInBlock || PointsInto(data, format))) {
    ZkString formatted;
    formatted.FormatV(format, args);
    *this = formatted;
    return;
  }
  char* buffer = GetBuffer(estimate);
  int capacity = GetAllocLength();
  // The shared empty block (capacity 0) is never written, only measured.
  int written = capacity > 0 ? FormatInto(buffer, capacity, format, args) : -1;
  if (written < 0) {
    // The estimate fell short (or the format cannot be written): measure the
    // output, grow to exactly its length and format again.
    int needed = MeasureFormatted(format, args);
    if (needed > capacity) {
      // What a short attempt left in the buffer is no text: should the
      // growth run out of memory, the string stays valid and empty.
      if (capacity > 0) ReleaseBuffer(0);
      buffer = GetBuffer(needed);
      written = FormatInto(buffer, needed, format, args);
    } else if (needed == 0) {
      written = 0;
    }
  }
  // A format the runtime refuses (an unconvertible wide text, ...) gives no
  // text.
  if (written < 0 && GetAllocLength() > 0) buffer[0] = '\0';
  ReleaseBuffer(-1);
}

void ZkString::FormatMessageA(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* text = nullptr;
  // Without FORMAT_MESSAGE_ARGUMENT_ARRAY the arguments parameter is the
  // address of a va_list: %1, %2, ... take the variable arguments by position.
  DWORD written = ::FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                   format, 0, 0, reinterpret_cast<LPSTR>(&text), 0, &args);
  DWORD error = ::GetLastError();
  va_end(args);
  kv::ScopedLocal owner(text);
  if (written == 0 || text == nullptr) throw ZkStringFormatError(error);
  *this = text;
  owner.Reset();
}

ZkString::operator const unsigned short*() {
  int length = GetLength();
  // The wide text starts behind the narrow one at an even offset, so it is
  // aligned for 16-bit characters (the characters of a block start at an
  // even address); 3 x offset leaves room for 2 x (length + 1) bytes. For a
  // text of more than about 715 million characters no block can hold that.
  long long offset = (static_cast<long long>(length) + 2) & ~1LL;
  char* buffer = GetBuffer(FieldLength(3 * offset));
  wchar_t* wide = reinterpret_cast<wchar_t*>(buffer + offset);
  std::size_t converted = std::mbstowcs(wide, buffer, static_cast<std::size_t>(length) + 1);
  if (converted == static_cast<std::size_t>(-1)) wide[0] = L'\0';  // no unterminated partial text
  ReleaseBuffer(-1);
  return reinterpret_cast<const unsigned short*>(wide);
}
