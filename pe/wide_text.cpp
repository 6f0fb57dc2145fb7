#include "pe/wide_text.h"

#include <cstdint>

namespace kv {

namespace {

void Put(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | cp >> 6));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | cp >> 12));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | cp >> 18));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool WideToUtf8Checked(const std::wstring& wide, std::string* utf8) {
  utf8->clear();
  bool valid = true;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = static_cast<std::uint16_t>(wide[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() &&
        static_cast<std::uint16_t>(wide[i + 1]) >= 0xDC00 &&
        static_cast<std::uint16_t>(wide[i + 1]) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint16_t>(wide[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
      valid = false;
    }
    Put(c, utf8);
  }
  return valid;
}

std::string WideToUtf8(const std::wstring& wide) {
  std::string out;
  WideToUtf8Checked(wide, &out);
  return out;
}

std::wstring Utf8ToWide(const std::string& utf8) {
  std::wstring out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    int more = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    char32_t cp = more == 0 ? lead : more == 1 ? lead & 0x1F : more == 2 ? lead & 0x0F : lead & 0x07;
    bool ok = more >= 0 && i + more < utf8.size() + (more == 0 ? 1 : 0) &&
              i + static_cast<std::size_t>(more) < utf8.size() + 1;
    for (int k = 1; ok && k <= more; ++k) {
      if (i + k >= utf8.size()) {
        ok = false;
        break;
      }
      const auto next = static_cast<std::uint8_t>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) ok = false;
      cp = cp << 6 | (next & 0x3F);
    }
    if (!ok || cp > 0x10FFFF) {
      out.push_back(static_cast<wchar_t>(0xFFFD));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
    i += 1 + static_cast<std::size_t>(more);
  }
  return out;
}

}  // namespace kv
