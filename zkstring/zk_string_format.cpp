// ZkString formatting: printf-style (Format, FormatV), message-style
// (FormatMessageA) and the 16-bit wide view.
#include <cstdio>
#include <cstdlib>

#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "zkstring/zk_format_estimate.h"
#include "zkstring/zk_string.h"

// FormatV relies on the C99 formatter of the MinGW runtime (which the C++
// library selects): vsnprintf reports the full output length when the buffer
// is short, and knows the 64-bit size prefixes.
#if !defined(__USE_MINGW_ANSI_STDIO) || !__USE_MINGW_ANSI_STDIO
#error "ZkString::FormatV needs the C99 vsnprintf of the MinGW runtime"
#endif

void ZkString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void ZkString::FormatV(const char* format, va_list args) {
  int estimate = zk_format::EstimateFormattedLength(format, args);

  va_list again;
  va_copy(again, args);
  char* buffer = GetBuffer(estimate);
  int capacity = GetAllocLength();
  // Bounded to the capacity, so output beyond the estimate is never written
  // past the block. The shared empty block (capacity 0) is only measured.
  int needed = capacity > 0
                   ? std::vsnprintf(buffer, static_cast<std::size_t>(capacity) + 1, format, args)
                   : std::vsnprintf(nullptr, 0, format, args);
  if (needed > capacity) {
    // The estimate was short: grow to exactly the output and format again.
    buffer = GetBuffer(needed);
    needed = std::vsnprintf(buffer, static_cast<std::size_t>(needed) + 1, format, again);
  }
  va_end(again);
  if (needed < 0 && GetAllocLength() > 0) buffer[0] = '\0';  // formatter error: no text
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
  // even address); 3 x offset leaves room for 2 x (length + 1) bytes.
  int offset = (length + 2) & ~1;
  char* buffer = GetBuffer(3 * offset);
  wchar_t* wide = reinterpret_cast<wchar_t*>(buffer + offset);
  std::size_t converted = std::mbstowcs(wide, buffer, static_cast<std::size_t>(length) + 1);
  if (converted == static_cast<std::size_t>(-1)) wide[0] = L'\0';  // no unterminated partial text
  ReleaseBuffer(-1);
  return reinterpret_cast<const unsigned short*>(wide);
}
