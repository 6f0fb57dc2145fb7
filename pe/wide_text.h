// UTF-8 and UTF-16 (Windows' wide characters), converted without the
// system's code pages, so that kvpack reads the same names on every system.
#pragma once

#include <string>

namespace kv {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD and makes the
// checked form return false.
bool WideToUtf8Checked(const std::wstring& wide, std::string* utf8);
std::string WideToUtf8(const std::wstring& wide);

// UTF-8 to UTF-16; bytes that are not UTF-8 become U+FFFD.
std::wstring Utf8ToWide(const std::string& utf8);

}  // namespace kv
