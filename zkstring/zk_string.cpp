// ZkString core: blocks, the shared empty block, construction, assignment,
// concatenation, comparison and raw buffer access.
#include "zkstring/zk_string.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "platform/win32.h"
#include "zkstring/zk_string_block.h"

using zk_string_block::FieldLength;
using zk_string_block::HeaderOf;
using zk_string_block::IsEmptyBlock;
using zk_string_block::kEmptyBlockCount;
using zk_string_block::kLockedCount;
using zk_string_block::SetLength;

// The layout is an interface of the executable. (The library also builds on
// a 64-bit host, with a stand-in for the few Win32 calls, for fuzzing; there
// the count is wider and the layout is nobody's interface.)
#if defined(_WIN32)
static_assert(sizeof(ZkStringData) == 12, "the block header is three 32-bit fields");
static_assert(sizeof(long) == 4, "refCount is a 32-bit interlocked value");
#endif
static_assert(sizeof(ZkString) == sizeof(char*), "a ZkString is one pointer");

namespace {

// The shared empty block and the static string that points at it. Both are
// constant-initialised (aggregates of constants and an address), so strings
// with static storage duration may be built and destroyed at any point of
// start-up and shut-down. The static string is laid out as a ZkString (one
// character pointer) without having a constructor or destructor of its own:
// a constant-initialised ZkString object proper would need a constexpr
// constructor, and every member of the class is exported. Nothing writes the
// static string; it is read only through ZkGetEmptyString.
struct EmptyBlock {
  ZkStringData header;
  char terminator;
};
static_assert(offsetof(EmptyBlock, terminator) == sizeof(ZkStringData),
              "the characters follow the header directly");

struct EmptyStringObject {
  char* chars;
};

EmptyBlock g_emptyBlock = {{kEmptyBlockCount, 0, 0}, '\0'};
EmptyStringObject g_emptyString = {&g_emptyBlock.terminator};

}  // namespace

// The static string is only ever read, through ZkString members in other
// functions; the layout pun is what lets it need no constructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstrict-aliasing"
const ZkString& ZkGetEmptyString() {
  static_assert(sizeof(EmptyStringObject) == sizeof(ZkString), "same layout as ZkString");
  return *reinterpret_cast<const ZkString*>(&g_emptyString);
}
#pragma GCC diagnostic pop

// ---- Block helpers --------------------------------------------------------

ZkStringData* ZkString::GetData() const { return HeaderOf(chars_); }

void ZkString::Init() { chars_ = &g_emptyBlock.terminator; }

int ZkString::SafeStrlen(const char* text) {
  return text == nullptr ? 0 : FieldLength(static_cast<long long>(std::strlen(text)));
}

void ZkString::AllocBuffer(int n) {
  if (n <= 0) {
    Init();
    return;
  }
  // Exactly the header and n + 1 characters: no rounding, no growth reserve.
  // n is at most INT_MAX, so the size fits a 32-bit size_t.
  void* raw = ::operator new(sizeof(ZkStringData) + static_cast<std::size_t>(n) + 1);
  ZkStringData* data = static_cast<ZkStringData*>(raw);
  data->refCount = 1;
  data->dataLength = n;
  data->allocLength = n;
  data->data()[n] = '\0';
  chars_ = data->data();
}

// Where this is inlined behind Init, the compiler cannot see that the count
// test keeps the static empty block from ever reaching operator delete.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"
void ZkString::Release(ZkStringData* data) {
  if (IsEmptyBlock(data)) return;
  // A locked block (-1) goes to -2 here and is freed by its first release.
  if (::InterlockedDecrement(&data->refCount) <= 0) ::operator delete(static_cast<void*>(data));
}
#pragma GCC diagnostic pop

void ZkString::Release() {
  Release(GetData());
  Init();
}

void ZkString::CopyBeforeWrite() {
  ZkStringData* old = GetData();
  if (old->refCount <= 1) return;  // private, locked or the shared empty block
  // The new block is made before the old reference is dropped, so a failed
  // allocation leaves this string as it was.
  AllocBuffer(old->dataLength);
  std::memcpy(chars_, old->data(), static_cast<std::size_t>(old->dataLength));
  Release(old);
}

void ZkString::AllocBeforeWrite(int n) {
  ZkStringData* old = GetData();
  if (old->refCount > 1 || n > old->allocLength) {
    AllocBuffer(n);
    Release(old);
  }
}

void ZkString::AssignCopy(int n, const char* text) {
  // When `text` lies in this string's private block, AllocBeforeWrite keeps
  // the block (n fits its capacity) and the copy is an overlapping move; a
  // shared block stays alive with its other owners until after the copy.
  ZkStringData* old = GetData();
  bool keepsBlock = old->refCount <= 1 && n <= old->allocLength;
  if (keepsBlock) {
    if (n > 0) std::memmove(chars_, text, static_cast<std::size_t>(n));
    SetLength(old, n);
    return;
  }
  AllocBuffer(n);
  if (n > 0) std::memcpy(chars_, text, static_cast<std::size_t>(n));
  Release(old);
}

void ZkString::AllocCopy(ZkString& dest, int copyLength, int copyIndex, int extraLength) const {
  int total = FieldLength(static_cast<long long>(copyLength) + extraLength);
  if (total == 0) {
    dest.Init();
    return;
  }
  dest.AllocBuffer(total);
  std::memcpy(dest.chars_, chars_ + copyIndex, static_cast<std::size_t>(copyLength));
}

void ZkString::ConcatCopy(int length1, const char* text1, int length2, const char* text2) {
  int total = FieldLength(static_cast<long long>(length1) + length2);
  if (total == 0) return;
  AllocBuffer(total);
  std::memcpy(chars_, text1, static_cast<std::size_t>(length1));
  std::memcpy(chars_ + length1, text2, static_cast<std::size_t>(length2));
}

void ZkString::ConcatInPlace(int n, const char* text) {
  if (n == 0) return;
  ZkStringData* data = GetData();
  if (data->refCount <= 1 && static_cast<long long>(data->dataLength) + n <= data->allocLength) {
    std::memmove(chars_ + data->dataLength, text, static_cast<std::size_t>(n));
    SetLength(data, data->dataLength + n);
    return;
  }
  // The old block is released only after both pieces are copied, so `text`
  // may point into this string.
  ConcatCopy(data->dataLength, chars_, n, text);
  Release(data);
}

// ---- Construction and destruction -----------------------------------------

ZkString::ZkString() { Init(); }

ZkString::ZkString(const ZkString& source) {
  ZkStringData* data = source.GetData();
  if (data->refCount >= 0) {
    chars_ = source.chars_;
    ::InterlockedIncrement(&data->refCount);
  } else {
    // Locked (copied, never shared) or the shared empty block.
    Init();
    *this = source.chars_;
  }
}

ZkString::ZkString(const char* text) {
  Init();
  int n = SafeStrlen(text);
  if (n > 0) {
    AllocBuffer(n);
    std::memcpy(chars_, text, static_cast<std::size_t>(n));
  }
}

ZkString::ZkString(const unsigned char* text) {
  Init();
  *this = reinterpret_cast<const char*>(text);
}

ZkString::ZkString(char ch, int repeat) {
  Init();
  if (repeat >= 1) {
    AllocBuffer(repeat);
    std::memset(chars_, ch, static_cast<std::size_t>(repeat));
  }
}

ZkString::ZkString(const char* chars, int length) {
  Init();
  if (length > 0) {
    AllocBuffer(length);
    std::memcpy(chars_, chars, static_cast<std::size_t>(length));
  }
}

ZkString::ZkString(const CString& source) {
  Init();
  *this = source.m_pszData;
}

ZkString::~ZkString() { Release(GetData()); }

// ---- Assignment -----------------------------------------------------------

const ZkString& ZkString::operator=(const ZkString& source) {
  if (chars_ == source.chars_) return *this;
  ZkStringData* mine = GetData();
  ZkStringData* theirs = source.GetData();
  if (IsEmptyBlock(mine) && IsEmptyBlock(theirs)) return *this;
  if (mine->refCount == kLockedCount || theirs->refCount == kLockedCount) {
    AssignCopy(theirs->dataLength, source.chars_);
  } else if (IsEmptyBlock(theirs)) {
    Release();
  } else {
    Release();
    chars_ = source.chars_;
    ::InterlockedIncrement(&theirs->refCount);
  }
  return *this;
}

const ZkString& ZkString::operator=(const char* text) {
  AssignCopy(SafeStrlen(text), text);
  return *this;
}

const ZkString& ZkString::operator=(const unsigned char* text) {
  return *this = reinterpret_cast<const char*>(text);
}

const ZkString& ZkString::operator=(char ch) {
  AssignCopy(1, &ch);
  return *this;
}

const ZkString& ZkString::operator=(const CString& source) { return *this = source.m_pszData; }

void ZkString::Empty() {
  ZkStringData* data = GetData();
  if (data->dataLength == 0) return;
  if (data->refCount >= 0) {
    Release();
  } else {
    AssignCopy(0, chars_);  // locked: keeps its block, capacity and lock
  }
}

// ---- Concatenation --------------------------------------------------------

const ZkString& ZkString::operator+=(const char* text) {
  ConcatInPlace(SafeStrlen(text), text);
  return *this;
}

const ZkString& ZkString::operator+=(char ch) {
  ConcatInPlace(1, &ch);
  return *this;
}

const ZkString& ZkString::operator+=(const ZkString& text) {
  ConcatInPlace(text.GetData()->dataLength, text.chars_);
  return *this;
}

ZkString operator+(const ZkString& left, const ZkString& right) {
  ZkString result;
  result.ConcatCopy(left.GetData()->dataLength, left.chars_, right.GetData()->dataLength,
                    right.chars_);
  return result;
}

ZkString operator+(const ZkString& left, const char* right) {
  ZkString result;
  result.ConcatCopy(left.GetData()->dataLength, left.chars_, ZkString::SafeStrlen(right), right);
  return result;
}

ZkString operator+(const char* left, const ZkString& right) {
  ZkString result;
  result.ConcatCopy(ZkString::SafeStrlen(left), left, right.GetData()->dataLength, right.chars_);
  return result;
}

ZkString operator+(const ZkString& left, char right) {
  ZkString result;
  result.ConcatCopy(left.GetData()->dataLength, left.chars_, 1, &right);
  return result;
}

ZkString operator+(char left, const ZkString& right) {
  ZkString result;
  result.ConcatCopy(1, &left, right.GetData()->dataLength, right.chars_);
  return result;
}

// ---- Attributes and characters --------------------------------------------

int ZkString::GetLength() const { return GetData()->dataLength; }
int ZkString::GetAllocLength() const { return GetData()->allocLength; }
bool ZkString::IsEmpty() const { return GetData()->dataLength == 0; }
ZkString::operator const char*() const { return chars_; }
char ZkString::GetAt(int index) const { return chars_[index]; }
char ZkString::operator[](int index) const { return chars_[index]; }

void ZkString::SetAt(int index, char ch) {
  CopyBeforeWrite();
  chars_[index] = ch;
}

// ---- Comparison -----------------------------------------------------------

int ZkString::Compare(const char* text) const { return std::strcmp(chars_, text); }
int ZkString::CompareNoCase(const char* text) const { return _stricmp(chars_, text); }
int ZkString::Collate(const char* text) const { return std::strcoll(chars_, text); }
int ZkString::CollateNoCase(const char* text) const { return _stricoll(chars_, text); }

bool operator==(const ZkString& l, const ZkString& r) { return l.Compare(r) == 0; }
bool operator==(const ZkString& l, const char* r) { return l.Compare(r) == 0; }
bool operator==(const char* l, const ZkString& r) { return r.Compare(l) == 0; }
bool operator!=(const ZkString& l, const ZkString& r) { return l.Compare(r) != 0; }
bool operator!=(const ZkString& l, const char* r) { return l.Compare(r) != 0; }
bool operator!=(const char* l, const ZkString& r) { return r.Compare(l) != 0; }
bool operator<(const ZkString& l, const ZkString& r) { return l.Compare(r) < 0; }
bool operator<(const ZkString& l, const char* r) { return l.Compare(r) < 0; }
bool operator<(const char* l, const ZkString& r) { return r.Compare(l) > 0; }
bool operator>(const ZkString& l, const ZkString& r) { return l.Compare(r) > 0; }
bool operator>(const ZkString& l, const char* r) { return l.Compare(r) > 0; }
bool operator>(const char* l, const ZkString& r) { return r.Compare(l) < 0; }
bool operator<=(const ZkString& l, const ZkString& r) { return l.Compare(r) <= 0; }
bool operator<=(const ZkString& l, const char* r) { return l.Compare(r) <= 0; }
bool operator<=(const char* l, const ZkString& r) { return r.Compare(l) >= 0; }
bool operator>=(const ZkString& l, const ZkString& r) { return l.Compare(r) >= 0; }
bool operator>=(const ZkString& l, const char* r) { return l.Compare(r) >= 0; }
bool operator>=(const char* l, const ZkString& r) { return r.Compare(l) <= 0; }

// ---- Raw buffer access ----------------------------------------------------

char* ZkString::GetBuffer(int minCapacity) {
  ZkStringData* old = GetData();
  if (old->refCount > 1 || minCapacity > old->allocLength) {
    int length = old->dataLength;
    AllocBuffer(minCapacity > length ? minCapacity : length);
    std::memcpy(chars_, old->data(), static_cast<std::size_t>(length));
    SetLength(GetData(), length);
    Release(old);
  }
  return chars_;
}

void ZkString::ReleaseBuffer(int newLength) {
  CopyBeforeWrite();
  if (newLength == -1) newLength = ::lstrlenA(chars_);
  SetLength(GetData(), newLength);
}

char* ZkString::GetBufferSetLength(int length) {
  GetBuffer(length);
  SetLength(GetData(), length);
  return chars_;
}

void ZkString::FreeExtra() {
  ZkStringData* old = GetData();
  if (old->dataLength == old->allocLength) return;
  AllocBuffer(old->dataLength);
  std::memcpy(chars_, old->data(), static_cast<std::size_t>(old->dataLength));
  Release(old);
}

char* ZkString::LockBuffer() {
  char* buffer = GetBuffer(0);
  ZkStringData* data = GetData();
  if (!IsEmptyBlock(data)) data->refCount = kLockedCount;
  return buffer;
}

void ZkString::UnlockBuffer() {
  ZkStringData* data = GetData();
  if (!IsEmptyBlock(data)) data->refCount = 1;
}
