#include "zkstring/zk_format_estimate.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// What the size prefixes in front of a conversion say about its argument.
struct ArgSize {
  bool longLong = false;  // ll, I64: 64-bit integers and pointers
  bool intMax = false;    // j: 64-bit integers
  bool wide = false;      // l, w: wide characters and texts
  bool narrow = false;    // h: narrow characters and texts, whatever else
};

// Steps over the size prefixes at `p`. The runtime's formatter accepts any
// number of them in a row; F and N (near and far pointers of 16-bit code),
// L (its long double is a double), z, t, I and I32 change nothing on this
// 32-bit target.
ArgSize ReadSizePrefixes(const char*& p) {
  ArgSize size;
  for (;;) {
    switch (*p) {
      case 'F':
      case 'N':
      case 'L':
      case 'z':
      case 't':
        ++p;
        break;
      case 'h':
        ++p;
        size.narrow = true;
        break;
      case 'w':
        ++p;
        size.wide = true;
        break;
      case 'l':
        if (p[1] == 'l') {
          p += 2;
          size.longLong = true;
        } else {
          ++p;
          size.wide = true;  // long: 32-bit for integers, wide for c and s
        }
        break;
      case 'j':
        ++p;
        size.intMax = true;
        break;
      case 'I':
        if (p[1] == '6' && p[2] == '4') {
          p += 3;
          size.longLong = true;
        } else if (p[1] == '3' && p[2] == '2') {
          p += 3;
        } else {
          ++p;
        }
        break;
      default:
        return size;
    }
  }
}

// The length of a text argument. With a precision the formatter reads at most
// that many characters, and so does this: the text need not be terminated
// within them.
long long TextLength(const char* text, bool bounded, long long precision) {
  if (text == nullptr) return 6;
  if (!bounded) return static_cast<long long>(std::strlen(text));
  const void* end = std::memchr(text, '\0', static_cast<std::size_t>(precision));
  return end == nullptr ? precision : static_cast<const char*>(end) - text;
}

long long WideTextLength(const wchar_t* text, bool bounded, long long precision) {
  if (text == nullptr) return 6;
  long long length = 0;
  while ((!bounded || length < precision) && text[length] != L'\0') ++length;
  return length;
}

long long Larger(long long a, long long b) { return a > b ? a : b; }

}  // namespace

int EstimateFormattedLength(const char* format, va_list callerArgs, const char* watchedFirst,
                            std::size_t watchedSize, bool* textInWatched) {
  auto watch = [&](const void* text) {
    auto at = reinterpret_cast<std::uintptr_t>(text);
    auto first = reinterpret_cast<std::uintptr_t>(watchedFirst);
    if (textInWatched != nullptr && text != nullptr && at >= first && at - first < watchedSize) {
      *textInWatched = true;
    }
  };
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
    if (width < 0) width = -width;  // a left-justified field of that size

    // A precision bounds what a text conversion reads; a negative one taken
    // through "*" is no precision at all.
    long long precision = 0;
    bool bounded = false;
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        precision = ReadNumber(p);
      }
      bounded = precision >= 0;
      if (!bounded) precision = 0;
    }

    ArgSize size = ReadSizePrefixes(p);
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
        } else if (!size.narrow && (conversion == 'S' || size.wide)) {
          const wchar_t* text = va_arg(args, const wchar_t*);
          watch(text);
          item = Larger(1, WideTextLength(text, bounded, precision));
        } else {
          const char* text = va_arg(args, const char*);
          watch(text);
          item = Larger(1, TextLength(text, bounded, precision));
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
        if (size.longLong || size.intMax) {
          (void)va_arg(args, long long);
        } else {
          (void)va_arg(args, int);
        }
        item = Larger(32, width + precision);
        break;
      case 'p':
        if (size.longLong) {
          (void)va_arg(args, long long);
        } else {
          (void)va_arg(args, void*);
        }
        item = Larger(32, width + precision);
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        (void)va_arg(args, double);
        item = Larger(128, width + precision);
        break;
      case 'n':
        (void)va_arg(args, void*);
        break;
      default:
        break;  // written literally by the formatter, or not at all; no argument
    }
    total = Clamp(total + item);
  }
  va_end(args);
  // Literal characters and "#" flags count behind the last clamp.
  return static_cast<int>(Clamp(total < 0 ? 0 : total));
}

}  // namespace zk_format
