#include "zkstring/zk_format_estimate.h"

#include <cctype>
#include <cstring>
#include <cwchar>

namespace zk_format {
namespace {

// Widths, precisions and the total saturate here, far beyond any output a
// string can hold, so that absurd formats cannot overflow the arithmetic.
constexpr long long kLimit = 0x3FFFFFFF;

long long Clamp(long long value) {
  if (value > kLimit) return kLimit;
  if (value < -kLimit) return -kLimit;
  return value;
}

bool IsDigit(char ch) { return std::isdigit(static_cast<unsigned char>(ch)) != 0; }

// Reads the decimal number at `p` (0 if there is none) and steps over it.
long long ReadNumber(const char*& p) {
  long long value = 0;
  for (; IsDigit(*p); ++p) value = Clamp(value * 10 + (*p - '0'));
  return value;
}

enum class ArgSize { kDefault, kLongLong, kLongDouble, kWide };

// Steps over one size prefix of the formatter and tells what it means for
// the argument that the conversion will take.
ArgSize ReadSizePrefix(const char*& p) {
  switch (*p) {
    case 'h':
      ++p;
      if (*p == 'h') ++p;
      return ArgSize::kDefault;
    case 'l':
      ++p;
      if (*p == 'l') {
        ++p;
        return ArgSize::kLongLong;
      }
      return ArgSize::kWide;  // long: 32-bit for integers, wide for c and s
    case 'L':
      ++p;
      return ArgSize::kLongDouble;  // integers stay 32-bit
    case 'j':
      ++p;
      return ArgSize::kLongLong;
    case 'z':
    case 't':
      ++p;
      return ArgSize::kDefault;
    case 'I':
      ++p;
      if (p[0] == '6' && p[1] == '4') {
        p += 2;
        return ArgSize::kLongLong;
      }
      if (p[0] == '3' && p[1] == '2') p += 2;
      return ArgSize::kDefault;
    default:
      return ArgSize::kDefault;
  }
}

long long TextLength(const char* text) {
  return text == nullptr ? 6 : static_cast<long long>(std::strlen(text));
}

long long WideTextLength(const wchar_t* text) {
  return text == nullptr ? 6 : static_cast<long long>(std::wcslen(text));
}

long long Larger(long long a, long long b) { return a > b ? a : b; }

}  // namespace

int EstimateFormattedLength(const char* format, va_list callerArgs) {
  va_list args;
  va_copy(args, callerArgs);
  long long total = 0;
  const char* p = format;
  while (*p != '\0') {
    if (*p != '%') {
      ++total;
      ++p;
      continue;
    }
    ++p;
    if (*p == '\0') break;  // a lone "%" at the end
    if (*p == '%') {
      ++total;
      ++p;
      continue;
    }

    long long width = 0;
    bool widthFromArgument = false;
    for (;; ++p) {
      if (*p == '#') {
        total += 2;
      } else if (*p == '*') {
        width = va_arg(args, int);
        widthFromArgument = true;
      } else if (*p != '-' && *p != '+' && *p != '0' && *p != ' ') {
        break;
      }
    }
    if (!widthFromArgument) width = ReadNumber(p);

    long long precision = 0;
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        precision = ReadNumber(p);
      }
    }

    ArgSize size = ReadSizePrefix(p);
    char conversion = *p;
    if (conversion == '\0') break;
    ++p;

    long long item = 0;
    switch (conversion) {
      case 'c':
      case 'C':
      case 's':
      case 'S':
        if (conversion == 'c' || conversion == 'C') {
          (void)va_arg(args, int);
          item = 2;
        } else if (conversion == 'S' || size == ArgSize::kWide) {
          item = Larger(1, WideTextLength(va_arg(args, const wchar_t*)));
        } else {
          item = Larger(1, TextLength(va_arg(args, const char*)));
        }
        if (precision != 0 && item > precision) item = precision;
        if (item < width) item = width;
        break;
      case 'd':
      case 'i':
      case 'o':
      case 'u':
      case 'x':
      case 'X':
        if (size == ArgSize::kLongLong) {
          (void)va_arg(args, long long);
        } else {
          (void)va_arg(args, int);
        }
        item = Larger(32, width + precision);
        break;
      case 'p':
        (void)va_arg(args, void*);
        item = Larger(32, width + precision);
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (size == ArgSize::kLongDouble) {
          (void)va_arg(args, long double);
        } else {
          (void)va_arg(args, double);
        }
        item = Larger(128, width + precision);
        break;
      case 'n':
        (void)va_arg(args, void*);
        break;
      default:
        break;  // written literally by the formatter; takes no argument
    }
    total = Clamp(total + item);
  }
  va_end(args);
  // Literal characters and "#" flags count behind the last clamp.
  return static_cast<int>(Clamp(total < 0 ? 0 : total));
}

}  // namespace zk_format
