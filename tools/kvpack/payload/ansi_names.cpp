#include "tools/kvpack/payload/ansi_names.h"

#include <cstdint>
#include <cstdio>

namespace kv {

namespace {

// Code points of Windows-1252 bytes 0x80-0x9F; 0 marks an undefined byte.
// Bytes 0xA0-0xFF are the Latin-1 code points of the same value.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool AnsiByte(char32_t cp, char* out) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
    *out = static_cast<char>(cp);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] != 0 && kHighControls[i] == cp) {
      *out = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | cp >> 6));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | cp >> 12));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool Utf8ToAnsi(std::string_view utf8, std::string* ansi) {
  ansi->clear();
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    int more;
    char32_t cp;
    if (lead < 0x80) {
      more = 0;
      cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      cp = lead & 0x07;
    } else {
      return false;
    }
    if (more > 0 && utf8.size() - i <= static_cast<std::size_t>(more)) return false;
    for (int k = 1; k <= more; ++k) {
      const auto next = static_cast<std::uint8_t>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = cp << 6 | (next & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    if ((more == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (more == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
    char byte;
    if (!AnsiByte(cp, &byte)) return false;
    ansi->push_back(byte);
    i += 1 + more;
  }
  return true;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  for (char c : ansi) {
    const auto b = static_cast<std::uint8_t>(c);
    char32_t cp = b;
    if (b >= 0x80 && b < 0xA0) cp = kHighControls[b - 0x80] != 0 ? kHighControls[b - 0x80] : 0xFFFD;
    AppendUtf8(cp, &out);
  }
  return out;
}

std::string AnsiForDisplay(std::string_view ansi) {
  std::string out;
  std::size_t plain = 0;
  for (std::size_t i = 0; i <= ansi.size(); ++i) {
    const auto b = i < ansi.size() ? static_cast<std::uint8_t>(ansi[i]) : 0;
    if (i < ansi.size() && b >= 0x20 && b != 0x7F) continue;
    out += AnsiToUtf8(ansi.substr(plain, i - plain));
    if (i < ansi.size()) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
    plain = i + 1;
  }
  return out;
}

}  // namespace kv
