// Feeds ZkString::Replace and ReplaceNoCase (the library's own sources,
// built for the host with a stand-in for their few Win32 calls) and checks
// every result against a model written with std::string.
//
// The input is read as choices, not taken as the text itself: the text is a
// few short pieces (NULs allowed) each repeated up to 2^16 times, and the new
// text one piece repeated up to 2^22 times, so that a few bytes make long
// texts, many matches and long new texts, and with them result lengths far
// beyond INT_MAX. Either text may instead point into the string itself, the
// string may share its block with a copy or have room to spare, and the
// search may be case-blind.
//
// Checked: a result longer than INT_MAX characters throws std::bad_alloc and
// leaves the string (and its sharing) as it was; any other result has the
// model's count, text and capacity, and the copy that shared the block is
// unchanged. AddressSanitizer reports any write past a block and any read
// of freed memory. Calls whose searches would read, or whose texts and
// result would hold, more than a budget of bytes are left out: under
// AddressSanitizer each strstr measures the rest of its text, and the
// model builds the result too. Refused calls build no result and have a
// budget for their searches alone. Within the budgets every input runs
// well under a second.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "zkstring/zk_string.h"

namespace {

constexpr int kMaxRepeat = 1 << 16;
constexpr std::size_t kMaxTextLength = 1 << 16;
constexpr int kMaxNewRepeat = 1 << 22;
constexpr long long kWorkBudget = 1LL << 22;
constexpr long long kSearchBudget = 1LL << 24;

std::string Upper(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return text;
}

// The documented algorithm on a std::string: every NUL-separated piece up to
// the length, matches left to right without overlap. Only counts when
// `build` is false.
struct Model {
  long long count = 0;
  long long length = 0;
  std::string text;
};

Model Replaced(const std::string& text, const std::string& oldText, const std::string& newText,
               bool noCase, bool build) {
  Model model;
  if (oldText.empty()) {
    model.length = static_cast<long long>(text.size());
    if (build) model.text = text;
    return model;
  }
  const std::string key = noCase ? Upper(oldText) : oldText;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    const std::string piece = text.substr(start, end - start);
    const std::string searched = noCase ? Upper(piece) : piece;
    std::size_t at = 0;
    for (std::size_t match; (match = searched.find(key, at)) != std::string::npos;
         at = match + key.size()) {
      ++model.count;
      if (build) model.text += piece.substr(at, match - at) + newText;
    }
    if (build) model.text += piece.substr(at);
    if (end < text.size() && build) model.text += '\0';
    start = end + 1;
  }
  model.length = static_cast<long long>(text.size()) +
                 (static_cast<long long>(newText.size()) - static_cast<long long>(oldText.size())) *
                     model.count;
  return model;
}

[[noreturn]] void Fail(const char* what, const std::string& text, const std::string& oldText,
                       std::size_t newLength, bool noCase) {
  std::fprintf(stderr,
               "zk_replace_fuzz: %s\n  text of %zu characters, old text \"%s\" (%zu), new text of "
               "%zu characters, %s\n",
               what, text.size(), oldText.c_str(), oldText.size(), newLength,
               noCase ? "case-blind" : "case-sensitive");
  std::abort();
}

std::string Piece(FuzzedDataProvider& in, std::size_t maxLength) {
  std::string piece = in.ConsumeRandomLengthString(maxLength);
  if (piece.empty()) piece = "a";
  return piece;
}

std::string Repeated(const std::string& piece, int times) {
  std::string out;
  out.reserve(piece.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// A repeat count from 1 to `limit`, of every order of magnitude alike.
int Repeat(FuzzedDataProvider& in, int limit) {
  int maxBits = 0;
  while ((2 << maxBits) <= limit) ++maxBits;
  const int bits = in.ConsumeIntegralInRange(0, maxBits);
  return in.ConsumeIntegralInRange(1 << bits, std::min(limit, (2 << bits) - 1));
}

std::string Text(const ZkString& s) {
  return std::string(static_cast<const char*>(s), static_cast<std::size_t>(s.GetLength()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);

  std::string text;
  for (int pieces = in.ConsumeIntegralInRange(1, 4); pieces > 0; --pieces) {
    const std::string piece = Piece(in, 8);
    text += Repeated(piece, Repeat(in, kMaxRepeat));
    if (text.size() > kMaxTextLength) text.resize(kMaxTextLength);
  }
  const bool noCase = in.ConsumeBool();
  const bool shared = in.ConsumeBool();
  const int room = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 64) : 0;

  ZkString s(text.data(), static_cast<int>(text.size()));
  if (room > 0) {
    s.GetBuffer(s.GetLength() + room);
    s.ReleaseBuffer(static_cast<int>(text.size()));
  }
  ZkString copy;
  if (shared) copy = s;
  const char* own = s;
  const int capacity = s.GetAllocLength();

  // The texts: from the input, or a C string inside the string's own block.
  std::string oldText, newText;
  const char* oldArg;
  const char* newArg;
  std::string oldStorage, newStorage;
  if (in.ConsumeIntegralInRange(0, 4) == 0) {
    oldArg = own + in.ConsumeIntegralInRange<std::size_t>(0, text.size());
    oldText = oldArg;
  } else {
    oldStorage = in.ConsumeRandomLengthString(6);
    oldArg = oldStorage.c_str();
    oldText = oldArg;  // up to its first NUL, as the member sees it
  }
  switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
      newArg = own + in.ConsumeIntegralInRange<std::size_t>(0, text.size());
      break;
    case 1:
      newArg = nullptr;
      break;
    default: {
      newStorage = Repeated(Piece(in, 6), Repeat(in, kMaxNewRepeat / 6));
      newArg = newStorage.c_str();
      break;
    }
  }
  if (newArg != nullptr) newText = newArg;

  // Count first; build the expected text only for a call that is made.
  Model model = Replaced(text, oldText, newText, noCase, false);
  const bool refused = model.length > INT_MAX;
  // Every search reads the rest of its piece: AddressSanitizer measures the
  // text that strstr is given, and the case-blind search copies it.
  const long long searchWork = model.count * static_cast<long long>(text.size());
  const long long resultWork = static_cast<long long>(text.size()) + model.length;
  if (refused ? searchWork > kSearchBudget : searchWork + resultWork > kWorkBudget) return 0;
  if (!refused) model = Replaced(text, oldText, newText, noCase, true);

  int count = -1;
  bool threw = false;
  try {
    count = noCase ? s.ReplaceNoCase(oldArg, newArg) : s.Replace(oldArg, newArg);
  } catch (const std::bad_alloc&) {
    threw = true;
  }

  if (refused) {
    if (!threw)
      Fail("a result above INT_MAX was not refused", text, oldText, newText.size(), noCase);
    if (static_cast<const char*>(s) != own || Text(s) != text || s.GetAllocLength() != capacity) {
      Fail("a refused replacement changed the string", text, oldText, newText.size(), noCase);
    }
    if (shared && static_cast<const char*>(copy) != own) {
      Fail("a refused replacement stopped sharing", text, oldText, newText.size(), noCase);
    }
    return 0;
  }
  if (threw) Fail("an ordinary replacement threw", text, oldText, newText.size(), noCase);
  if (count != model.count) Fail("wrong count", text, oldText, newText.size(), noCase);
  if (Text(s) != model.text) Fail("wrong text", text, oldText, newText.size(), noCase);
  // Unchanged without a match; otherwise the result needs room, and a block
  // that was shared is first copied to exactly the text.
  long long expectedCapacity = capacity;
  if (model.count > 0) {
    const long long before = shared ? static_cast<long long>(text.size()) : capacity;
    expectedCapacity = std::max(before, model.length);
  }
  if (s.GetAllocLength() != expectedCapacity) {
    Fail("wrong capacity", text, oldText, newText.size(), noCase);
  }
  if (shared && Text(copy) != text)
    Fail("the sharing copy changed", text, oldText, newText.size(), noCase);
  return 0;
}
