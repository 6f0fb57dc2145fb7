// Entry names are 8-bit ANSI (Windows-1252); host file names are UTF-8.
// These two conversions connect them for kvpack.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// Converts a UTF-8 file name component to Windows-1252. Returns false when
// the text is not valid UTF-8 or holds a character that Windows-1252 lacks
// (*ansi is then unspecified). ASCII passes unchanged.
bool Utf8ToAnsi(std::string_view utf8, std::string* ansi);

// Converts Windows-1252 text to UTF-8 for display; the five bytes that
// Windows-1252 leaves undefined become U+FFFD.
std::string AnsiToUtf8(std::string_view ansi);

// AnsiToUtf8 for a listing or a message: control characters (bytes below
// 0x20, and 0x7F) shown as \xNN, so that a hostile name cannot drive the
// terminal it is printed on.
std::string AnsiForDisplay(std::string_view ansi);

}  // namespace kv
