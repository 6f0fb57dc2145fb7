// Feeds printf-style formats to the length estimate of ZkString::FormatV and
// checks it against the C runtime's vsnprintf.
//
// The input does not become the format directly: a conversion takes
// arguments, and they must match the types the formatter takes, or the
// estimate would read garbage. The input is read as a sequence of choices
// that build a well-formed format (literal text, "%%", and conversions of
// d i o u x X c C s S e E f F g G a A p with flags, widths, precisions, "*"
// and size prefixes) together with the matching arguments, at most
// kMaxSlots of them. A variadic call with exactly those argument types (one
// instantiation per type sequence) then hands the estimate a real argument
// list.
//
// The estimate takes the format as the target's formatter (msvcrt) reads it:
// I64, I32, I, F, N, l and L on integers, F, l and L on floating values (all
// a double there), w for wide texts; vsnprintf gets the same format spelt for
// the host (ll for a 64-bit integer, nothing where the target's prefix
// changes no size), so that both read the same arguments and write nearly
// the same text. (The host writes fewer exponent digits and "0x" for "p".)
//
// A text with a precision below its length is sometimes handed over cut to
// that many characters, with the byte behind them poisoned while the
// estimate runs: it must read no further than the precision
// (AddressSanitizer watches). vsnprintf then sees the byte as a terminator.
//
// Checked: the estimate lies in 0..0x3FFFFFFF, leaves the argument list
// usable (vsnprintf runs on it afterwards), and is at least vsnprintf's
// length, except where the estimate's contract says it may fall short: a
// negative width or precision through "*", a floating value whose text
// exceeds 128 characters, and the sign, blank or "0x" that a "d", "i" or "p"
// writes on top of a precision of 32 or more digits. Formats with widths or
// precisions over 99999 are estimated but not formatted.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <clocale>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "zkstring/zk_format_estimate.h"

namespace {

constexpr std::size_t kMaxSlots = 4;
constexpr std::size_t kMaxPieces = 12;
constexpr long long kEstimateLimit = 0x3FFFFFFF;

enum SlotType { kInt, kLongLong, kDouble, kText, kWideText, kSlotTypes };

struct Slot {
  SlotType type = kInt;
  int i = 0;
  long long ll = 0;
  double d = 0;
  char* text = nullptr;  // also a %p pointer: void* may be read from a char*
  const wchar_t* wide = nullptr;
};

// One floating conversion on its own, to see whether its text exceeds 128.
struct FloatItem {
  std::string spec;  // host spelling, stars replaced by their values
  double d = 0;
};

struct Job {
  std::string format;      // as the target's formatter reads it
  std::string hostFormat;  // the same, spelt for vsnprintf here
  std::vector<Slot> slots;
  std::vector<FloatItem> floats;
  std::vector<std::unique_ptr<char[]>> cut;  // texts cut at their precision
  std::vector<char*> fences;                 // the byte behind each
  long long allowance = 0;  // documented shortfall: signs and "0x" past a precision
  bool exempt = false;      // a negative "*" value
  bool huge = false;        // a width or precision too large to format
};

// Texts for "s"; one is also the memory that "p" points into.
std::string g_texts[] = {"",
                         "a",
                         "text",
                         "(null)",
                         "0123456789",
                         "%d%s%n",
                         "a considerably longer text that runs past thirty-two characters",
                         std::string(200, 'x')};
const wchar_t* const kWideTexts[] = {L"", L"w", L"wide text",
                                     L"0123456789abcdefghijklmnopqrstuvwxyz"};
const double kDoubles[] = {0.0,
                           -0.0,
                           1.5,
                           -2.25,
                           1e-300,
                           4.9e-324,
                           1e15,
                           1e300,
                           -1.7976931348623157e308,
                           3.141592653589793,
                           1.0 / 0.0,
                           -1.0 / 0.0,
                           0.0 / 0.0};
const long long kLongLongs[] = {
    0, 1, -1, 0x7FFFFFFFFFFFFFFFLL, -0x7FFFFFFFFFFFFFFFLL - 1, 0x0000012300000456LL};
const int kInts[] = {0, 1, -1, 7, 255, 0x7FFFFFFF, -0x7FFFFFFF - 1, 65, 0x1234};

// The format with every byte outside printable ASCII as \xNN.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char ch : text) {
    if (ch >= 0x20 && ch < 0x7F && ch != '\\') {
      out += static_cast<char>(ch);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", ch);
      out += hex;
    }
  }
  return out;
}

[[noreturn]] void Fail(const Job& job, int estimate, int needed) {
  std::fprintf(stderr, "format_estimate_fuzz: estimate %d < output %d (allowance %lld)\n", estimate,
               needed, job.allowance);
  std::fprintf(stderr, "  format      \"%s\"\n  host format \"%s\"\n  arguments  ",
               Printable(job.format).c_str(), Printable(job.hostFormat).c_str());
  for (const Slot& s : job.slots) {
    switch (s.type) {
      case kInt:
        std::fprintf(stderr, " int %d", s.i);
        break;
      case kLongLong:
        std::fprintf(stderr, " long long %lld", s.ll);
        break;
      case kDouble:
        std::fprintf(stderr, " double %g", s.d);
        break;
      case kText:
        std::fprintf(stderr, " text %s", s.text ? s.text : "(null pointer)");
        break;
      case kWideText:
        std::fprintf(stderr, " wide text %ls", s.wide ? s.wide : L"(null pointer)");
        break;
      default:
        break;
    }
  }
  std::fprintf(stderr, "\n");
  std::abort();
}

// Reads a width or precision: digits (sometimes absurdly many), "*" with an
// int argument, or nothing. Appends it to both formats; returns its value
// (-1 for none) for the standalone floating spec.
long long AddNumber(FuzzedDataProvider& in, Job& job, std::string& standalone) {
  switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
    case 1:
      return -1;
    case 2:
    case 3: {
      const int value = in.ConsumeIntegralInRange(0, 300);
      const std::string digits = std::to_string(value);
      job.format += digits;
      job.hostFormat += digits;
      standalone += digits;
      return value;
    }
    case 4: {
      // A star needs its slot and one left for the conversion's value.
      if (job.slots.size() + 2 > kMaxSlots) return -1;
      Slot s;
      s.type = kInt;
      s.i = in.ConsumeBool() ? in.ConsumeIntegralInRange(-300, 300) : in.ConsumeIntegral<int>();
      job.slots.push_back(s);
      job.format += '*';
      job.hostFormat += '*';
      if (s.i < 0) job.exempt = true;
      // A negative width is a left-justified field of its magnitude.
      if (s.i > 99999 || s.i < -99999) job.huge = true;
      standalone += std::to_string(s.i < 0 ? 0 : s.i);
      return s.i;
    }
    default: {
      // Up to 19 digits: the estimate must saturate, not overflow.
      const std::uint64_t value = in.ConsumeIntegral<std::uint64_t>() % 10000000000000000000ull;
      const std::string digits = std::to_string(value);
      job.format += digits;
      job.hostFormat += digits;
      standalone += digits;
      if (value > 99999) job.huge = true;
      return static_cast<long long>(value > kEstimateLimit ? kEstimateLimit : value);
    }
  }
}

void AddConversion(FuzzedDataProvider& in, Job& job) {
  static const char kConversions[] = "diouxXcCsSeEfgGaAp";
  const char conversion =
      kConversions[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kConversions - 2)];
  std::string standalone = "%";
  job.format += '%';
  job.hostFormat += '%';

  const int flagCount = in.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < flagCount; ++i) {
    const char flag = "-+ 0#"[in.ConsumeIntegralInRange(0, 4)];
    job.format += flag;
    job.hostFormat += flag;
    standalone += flag;
  }
  AddNumber(in, job, standalone);
  long long precision = -1;
  if (in.ConsumeBool()) {
    job.format += '.';
    job.hostFormat += '.';
    standalone += '.';
    precision = AddNumber(in, job, standalone);
  }

  // The size prefix as the target reads it, its host spelling, and the
  // argument type both then take.
  struct Prefix {
    const char* target;
    const char* host;
    SlotType type;
  };
  static const Prefix kIntPrefixes[] = {
      {"", "", kInt},         {"h", "h", kInt},   {"hh", "hh", kInt},       {"l", "", kInt},
      {"L", "", kInt},        {"I32", "", kInt},  {"I", "", kInt},          {"z", "", kInt},
      {"t", "", kInt},        {"F", "", kInt},    {"N", "", kInt},          {"Fl", "", kInt},
      {"ll", "ll", kLongLong}, {"I64", "ll", kLongLong}, {"j", "ll", kLongLong}};
  static const Prefix kFloatPrefixes[] = {
      {"", "", kDouble}, {"l", "", kDouble}, {"L", "", kDouble}, {"F", "", kDouble}};
  static const Prefix kCharPrefixes[] = {
      {"", "", kInt}, {"h", "", kInt}, {"l", "l", kInt}, {"w", "l", kInt}};
  static const Prefix kTextPrefixes[] = {{"", "", kText},
                                         {"h", "", kText},
                                         {"N", "", kText},
                                         {"l", "l", kWideText},
                                         {"w", "l", kWideText}};
  static const Prefix kNoPrefix[] = {{"", "", kText}};
  static const Prefix kWideTextPrefix[] = {{"", "", kWideText}};
  const Prefix* prefixes = kIntPrefixes;
  std::size_t prefixCount = sizeof kIntPrefixes / sizeof kIntPrefixes[0];
  bool isFloat = false;
  switch (conversion) {
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      prefixes = kFloatPrefixes;
      prefixCount = 4;
      isFloat = true;
      break;
    case 'c':
      prefixes = kCharPrefixes;
      prefixCount = 4;
      break;
    case 'C':
      prefixes = kCharPrefixes;
      prefixCount = 1;
      break;
    case 's':
      prefixes = kTextPrefixes;
      prefixCount = 5;
      break;
    case 'S':
      prefixes = kWideTextPrefix;
      prefixCount = 1;
      break;
    case 'p':
      prefixes = kNoPrefix;
      prefixCount = 1;
      break;
    default:
      break;
  }
  const Prefix& prefix = prefixes[in.ConsumeIntegralInRange<std::size_t>(0, prefixCount - 1)];
  job.format += prefix.target;
  job.format += conversion;
  job.hostFormat += prefix.host;
  job.hostFormat += conversion;
  standalone += prefix.host;
  standalone += conversion;

  Slot s;
  s.type = prefix.type;
  switch (s.type) {
    case kInt:
      if (conversion == 'c' || conversion == 'C') {
        s.i = in.ConsumeIntegralInRange(1, 127);  // a character the C locale can write
      } else {
        s.i = in.ConsumeBool() ? kInts[in.ConsumeIntegralInRange<std::size_t>(0, 8)]
                               : in.ConsumeIntegral<int>();
      }
      break;
    case kLongLong:
      s.ll = in.ConsumeBool() ? kLongLongs[in.ConsumeIntegralInRange<std::size_t>(0, 5)]
                              : in.ConsumeIntegral<long long>();
      break;
    case kDouble:
      s.d = in.ConsumeBool() ? kDoubles[in.ConsumeIntegralInRange<std::size_t>(0, 12)]
                             : in.ConsumeFloatingPoint<double>();
      break;
    case kText:
      if (conversion == 'p') {
        s.text = in.ConsumeBool() ? nullptr : g_texts[7].data() + in.ConsumeIntegralInRange(0, 200);
      } else {
        const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, 8);
        s.text = pick == 8 ? nullptr : g_texts[pick].data();
        if (s.text != nullptr && precision >= 0 &&
            static_cast<std::size_t>(precision) < g_texts[pick].size() && in.ConsumeBool()) {
          const std::size_t kept = static_cast<std::size_t>(precision);
          job.cut.emplace_back(new char[kept + 1]);
          char* copy = job.cut.back().get();
          std::memcpy(copy, s.text, kept);
          copy[kept] = '\0';
          job.fences.push_back(copy + kept);
          s.text = copy;
        }
      }
      break;
    case kWideText: {
      const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, 4);
      s.wide = pick == 4 ? nullptr : kWideTexts[pick];
      break;
    }
    default:
      break;
  }
  job.slots.push_back(s);

  if (isFloat) {
    job.floats.push_back({standalone, s.d});
  }
  // A precision of 32 or more can fill the estimate with digits alone; a
  // sign or blank, and the "0x" of a pointer, then come on top.
  const int extra = conversion == 'd' || conversion == 'i' ? 1 : conversion == 'p' ? 3 : 0;
  if (precision + extra > 32) job.allowance += extra;
}

void BuildJob(FuzzedDataProvider& in, Job& job) {
  for (std::size_t piece = 0; piece < kMaxPieces && in.remaining_bytes() > 0; ++piece) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0: {
        std::string text = in.ConsumeRandomLengthString(16);
        for (char& ch : text) {
          if (ch == '%' || ch == '\0') ch = '.';
        }
        job.format += text;
        job.hostFormat += text;
        break;
      }
      case 1:
        job.format += "%%";
        job.hostFormat += "%%";
        break;
      default:
        if (job.slots.size() < kMaxSlots) AddConversion(in, job);
        break;
    }
  }
}

int StandaloneLength(const FloatItem& f) {
  return std::snprintf(nullptr, 0, f.spec.c_str(), f.d);
}

// The estimate and vsnprintf on one argument list, as FormatV runs them.
void Check(const Job* job, ...) {
  va_list args;
  va_start(args, job);
  for (char* fence : job->fences) ASAN_POISON_MEMORY_REGION(fence, 1);
  const int estimate = zk_format::EstimateFormattedLength(job->format.c_str(), args);
  for (char* fence : job->fences) ASAN_UNPOISON_MEMORY_REGION(fence, 1);
  if (estimate < 0 || estimate > kEstimateLimit) {
    std::fprintf(stderr, "estimate %d out of range\n", estimate);
    std::abort();
  }
  if (!job->huge) {
    const int needed = std::vsnprintf(nullptr, 0, job->hostFormat.c_str(), args);
    bool exempt = job->exempt || needed < 0;
    for (const FloatItem& f : job->floats) exempt = exempt || StandaloneLength(f) > 128;
    if (!exempt && static_cast<long long>(estimate) + job->allowance < needed) {
      Fail(*job, estimate, needed);
    }
  }
  va_end(args);
}

// Appends the arguments one slot at a time, each with its own type, and
// calls Check with them all.
template <typename... Args>
void Apply(const Job& job, std::size_t next, Args... args) {
  if (next == job.slots.size()) {
    Check(&job, args...);
    return;
  }
  if constexpr (sizeof...(Args) < kMaxSlots) {
    const Slot& s = job.slots[next];
    switch (s.type) {
      case kInt:
        Apply(job, next + 1, args..., s.i);
        break;
      case kLongLong:
        Apply(job, next + 1, args..., s.ll);
        break;
      case kDouble:
        Apply(job, next + 1, args..., s.d);
        break;
      case kText:
        Apply(job, next + 1, args..., s.text);
        break;
      case kWideText:
        Apply(job, next + 1, args..., s.wide);
        break;
      default:
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Job job;
  BuildJob(in, job);
  Apply(job, 0);
  return 0;
}
