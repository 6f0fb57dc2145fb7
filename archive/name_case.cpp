#include "archive/name_case.h"

namespace kv {

unsigned char FoldNameByte(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
  // Latin-1 letters à-þ sit 0x20 above À-Þ; 0xF7 is the division sign.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // š Š
    case 0x9C: return 0x8C;  // œ Œ
    case 0x9E: return 0x8E;  // ž Ž
    case 0xFF: return 0x9F;  // ÿ Ÿ
    default: return c;
  }
}

std::string FoldNameCase(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(FoldNameByte(static_cast<unsigned char>(c)));
  return folded;
}

bool SameFileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldNameByte(static_cast<unsigned char>(a[i])) !=
        FoldNameByte(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace kv
