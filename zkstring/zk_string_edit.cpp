// ZkString search, extraction, trimming, editing, case mapping and code-page
// conversion.
#include <cctype>
#include <cstring>

#include "platform/win32.h"
#include "zkstring/zk_string.h"
#include "zkstring/zk_string_block.h"

using zk_string_block::FieldLength;
using zk_string_block::HeaderOf;
using zk_string_block::IsEmptyBlock;
using zk_string_block::PointsInto;
using zk_string_block::SetLength;

namespace {

int IndexOrNotFound(const char* found, const char* base) {
  return found == nullptr ? -1 : static_cast<int>(found - base);
}

bool IsSpace(char ch) { return std::isspace(static_cast<unsigned char>(ch)) != 0; }

// Finds `key` in `text` (up to text's first NUL) without regard to case:
// both are copied into temporary strings and upper-cased with _strupr, so
// case is what the runtime's locale says it is.
const char* FindNoCase(const char* text, const char* key) {
  ZkString piece(text);
  ZkString upperKey(key);
  piece.MakeUpper();
  upperKey.MakeUpper();
  int index = piece.Find(static_cast<const char*>(upperKey));
  return index < 0 ? nullptr : text + index;
}

// End of the NUL-separated piece that starts at `piece`, terminator included.
const char* NextPiece(const char* piece) { return piece + ::lstrlenA(piece) + 1; }

}  // namespace

// ---- Search ---------------------------------------------------------------

int ZkString::Find(char ch) const {
  return IndexOrNotFound(std::strchr(chars_, static_cast<unsigned char>(ch)), chars_);
}

int ZkString::Find(char ch, int start) const {
  if (start >= GetData()->dataLength) return -1;
  return IndexOrNotFound(std::strchr(chars_ + start, static_cast<unsigned char>(ch)), chars_);
}

int ZkString::Find(const char* text) const {
  return IndexOrNotFound(std::strstr(chars_, text), chars_);
}

int ZkString::Find(const char* text, int start) const {
  if (start > GetData()->dataLength) return -1;
  return IndexOrNotFound(std::strstr(chars_ + start, text), chars_);
}

int ZkString::ReverseFind(char ch) const {
  return IndexOrNotFound(std::strrchr(chars_, static_cast<unsigned char>(ch)), chars_);
}

int ZkString::FindOneOf(const char* set) const {
  return IndexOrNotFound(std::strpbrk(chars_, set), chars_);
}

// ---- Extraction -----------------------------------------------------------

ZkString ZkString::Mid(int first, int count) const {
  int length = GetData()->dataLength;
  if (first < 0) first = 0;
  if (count < 0) count = 0;
  // Written as count > length - first so that a huge count cannot overflow.
  if (count > length - first) count = length - first;
  if (first > length) count = 0;
  ZkString result;
  AllocCopy(result, count, first, 0);
  return result;
}

ZkString ZkString::Mid(int first) const {
  // Mid(first, length - first) with the count taken from the unclamped first;
  // for a negative first that count exceeds the length and is cut to it.
  int length = GetData()->dataLength;
  return Mid(first, first < 0 ? length : length - first);
}

ZkString ZkString::Left(int count) const {
  int length = GetData()->dataLength;
  if (count < 0) count = 0;
  if (count > length) count = length;
  ZkString result;
  AllocCopy(result, count, 0, 0);
  return result;
}

ZkString ZkString::Right(int count) const {
  int length = GetData()->dataLength;
  if (count < 0) count = 0;
  if (count > length) count = length;
  ZkString result;
  AllocCopy(result, count, length - count, 0);
  return result;
}

ZkString ZkString::SpanIncluding(const char* set) const {
  return Left(static_cast<int>(std::strspn(chars_, set)));
}

ZkString ZkString::SpanExcluding(const char* set) const {
  return Left(static_cast<int>(std::strcspn(chars_, set)));
}

// ---- Trimming -------------------------------------------------------------

namespace {

// Finds the start of the trailing run of characters that `matches` accepts,
// scanning up to the first NUL; null when the text does not end in one.
template <typename Matches>
char* TrailingRun(char* text, Matches matches) {
  char* run = nullptr;
  for (char* p = text; *p != '\0'; ++p) {
    if (matches(*p)) {
      if (run == nullptr) run = p;
    } else {
      run = nullptr;
    }
  }
  return run;
}

}  // namespace

void ZkString::TrimRight() {
  CopyBeforeWrite();
  if (char* run = TrailingRun(chars_, IsSpace)) {
    SetLength(GetData(), static_cast<int>(run - chars_));
  }
}

void ZkString::TrimRight(char ch) {
  CopyBeforeWrite();
  if (char* run = TrailingRun(chars_, [ch](char c) { return c == ch; })) {
    SetLength(GetData(), static_cast<int>(run - chars_));
  }
}

void ZkString::TrimRight(const char* set) {
  CopyBeforeWrite();
  if (set == nullptr) return;
  if (char* run = TrailingRun(chars_, [set](char c) { return std::strchr(set, c) != nullptr; })) {
    SetLength(GetData(), static_cast<int>(run - chars_));
  }
}

namespace {

// Moves the text behind the first `skipped` characters, terminator and
// anything behind an embedded NUL included, to the front.
void DropFront(ZkStringData* data, int skipped) {
  if (skipped == 0) return;
  char* chars = data->data();
  std::memmove(chars, chars + skipped, static_cast<std::size_t>(data->dataLength - skipped + 1));
  data->dataLength -= skipped;
}

}  // namespace

void ZkString::TrimLeft() {
  CopyBeforeWrite();
  const char* p = chars_;
  while (IsSpace(*p)) ++p;
  DropFront(GetData(), static_cast<int>(p - chars_));
}

void ZkString::TrimLeft(char ch) {
  CopyBeforeWrite();
  const char* p = chars_;
  while (*p != '\0' && *p == ch) ++p;
  DropFront(GetData(), static_cast<int>(p - chars_));
}

void ZkString::TrimLeft(const char* set) {
  if (set == nullptr || *set == '\0') return;
  CopyBeforeWrite();
  const char* p = chars_;
  while (*p != '\0' && std::strchr(set, *p) != nullptr) ++p;
  DropFront(GetData(), static_cast<int>(p - chars_));
}

// ---- Editing --------------------------------------------------------------

int ZkString::Insert(int index, char ch) {
  int newLength = FieldLength(static_cast<long long>(GetData()->dataLength) + 1);
  CopyBeforeWrite();
  int length = GetData()->dataLength;
  if (index < 0) index = 0;
  if (index > length) index = length;
  GetBuffer(newLength);  // grows to exactly newLength when the capacity is short
  std::memmove(chars_ + index + 1, chars_ + index, static_cast<std::size_t>(length - index + 1));
  chars_[index] = ch;
  GetData()->dataLength = newLength;
  return newLength;
}

int ZkString::Insert(int index, const char* text) {
  if (index < 0) index = 0;
  int insertLength = SafeStrlen(text);
  if (insertLength == 0) return GetData()->dataLength;
  int newLength = FieldLength(static_cast<long long>(GetData()->dataLength) + insertLength);
  // A text inside this string would be moved by the insertion, or freed with
  // the old block when it grows: insert a copy of it.
  ZkString ownText;
  if (PointsInto(GetData(), text)) {
    ownText = ZkString(text, insertLength);
    text = ownText;
  }
  CopyBeforeWrite();
  int length = GetData()->dataLength;
  if (index > length) index = length;
  GetBuffer(newLength);
  std::memmove(chars_ + index + insertLength, chars_ + index,
               static_cast<std::size_t>(length - index + 1));
  std::memcpy(chars_ + index, text, static_cast<std::size_t>(insertLength));
  GetData()->dataLength = newLength;
  return newLength;
}

int ZkString::Delete(int index, int count) {
  if (index < 0) index = 0;
  int length = GetData()->dataLength;
  if (count > 0 && index < length) {
    CopyBeforeWrite();
    if (count > length - index) count = length - index;
    std::memmove(chars_ + index, chars_ + index + count,
                 static_cast<std::size_t>(length - index - count + 1));
    GetData()->dataLength = length - count;
  }
  return length;
}

int ZkString::Replace(char oldCh, char newCh) {
  if (oldCh == newCh) return 0;
  CopyBeforeWrite();
  int count = 0;
  int length = GetData()->dataLength;
  for (int i = 0; i < length; ++i) {
    if (chars_[i] == oldCh) {
      chars_[i] = newCh;
      ++count;
    }
  }
  return count;
}

namespace {

// The text forms of Replace and ReplaceNoCase, which differ only in how they
// search: `find` returns the first match of the key in the piece that starts
// at its argument (up to the piece's NUL), or null. The algorithm reaches the
// block through the public buffer members, so that no extra member joins the
// exported interface.
template <typename Find>
int ReplaceTexts(ZkString& self, const char* oldText, const char* newText, Find find) {
  int oldLength =
      oldText == nullptr ? 0 : FieldLength(static_cast<long long>(std::strlen(oldText)));
  if (oldLength == 0) return 0;
  int newLength =
      newText == nullptr ? 0 : FieldLength(static_cast<long long>(std::strlen(newText)));

  // Counting pass: non-overlapping matches in every NUL-separated piece.
  const char* text = self;
  const char* end = text + self.GetLength();
  int count = 0;
  for (const char* piece = text; piece < end; piece = NextPiece(piece)) {
    for (const char* match; (match = find(piece, oldText)) != nullptr; piece = match + oldLength) {
      ++count;
    }
  }
  if (count == 0) return 0;

  // Texts inside this string would change under the replacing pass, and may
  // be freed with the old block when it grows: replace with copies of them.
  ZkString ownOld, ownNew;
  if (PointsInto(HeaderOf(text), oldText)) {
    ownOld = ZkString(oldText, oldLength);
    oldText = ownOld;
  }
  if (newLength > 0 && PointsInto(HeaderOf(text), newText)) {
    ownNew = ZkString(newText, newLength);
    newText = ownNew;
  }

  // The result length can exceed any block (a long text, many matches, a
  // longer new text): it is worked out in 64 bits and refused before the
  // string is touched. One allocation at most, of exactly the result length;
  // GetBuffer also makes a shared block private.
  int length = self.GetLength();
  int resultLength = FieldLength(static_cast<long long>(length) +
                                 static_cast<long long>(newLength - oldLength) * count);
  char* chars = self.GetBuffer(resultLength);

  // Replacing pass over the same pieces. The end of the text moves with each
  // replacement, so the walk follows the current end, never the old one. The
  // length is stored with every replacement, so that a search that runs out
  // of memory (the case-blind one allocates) leaves a consistent string.
  for (char* piece = chars; piece < chars + length;) {
    char* match;
    while ((match = const_cast<char*>(find(piece, oldText))) != nullptr) {
      int rest = length - static_cast<int>(match - chars) - oldLength;
      std::memmove(match + newLength, match + oldLength, static_cast<std::size_t>(rest));
      if (newLength > 0) std::memcpy(match, newText, static_cast<std::size_t>(newLength));
      length += newLength - oldLength;
      SetLength(HeaderOf(chars), length);
      piece = match + newLength;  // inserted text is never searched again
    }
    piece = const_cast<char*>(NextPiece(piece));
  }
  self.ReleaseBuffer(resultLength);
  return count;
}

}  // namespace

int ZkString::Replace(const char* oldText, const char* newText) {
  return ReplaceTexts(*this, oldText, newText,
                      [](const char* piece, const char* key) { return std::strstr(piece, key); });
}

int ZkString::ReplaceNoCase(const char* oldText, const char* newText) {
  return ReplaceTexts(*this, oldText, newText, FindNoCase);
}

int ZkString::Remove(char ch) {
  CopyBeforeWrite();
  int length = GetData()->dataLength;
  char* out = chars_;
  for (int i = 0; i < length; ++i) {
    if (chars_[i] != ch) *out++ = chars_[i];
  }
  int removed = static_cast<int>(chars_ + length - out);
  if (removed > 0) SetLength(GetData(), length - removed);
  return removed;
}

// ---- Case, order and code page --------------------------------------------
// The shared empty block is skipped: it holds no text to convert, and some
// converters rewrite the terminator.

void ZkString::MakeUpper() {
  CopyBeforeWrite();
  if (!IsEmptyBlock(GetData())) _strupr(chars_);
}

void ZkString::MakeLower() {
  CopyBeforeWrite();
  if (!IsEmptyBlock(GetData())) _strlwr(chars_);
}

void ZkString::MakeReverse() {
  CopyBeforeWrite();
  if (!IsEmptyBlock(GetData())) _strrev(chars_);
}

void ZkString::CharToOemA() {
  CopyBeforeWrite();
  if (!IsEmptyBlock(GetData())) ::CharToOemA(chars_, chars_);
}

void ZkString::OemToCharA() {
  CopyBeforeWrite();
  if (!IsEmptyBlock(GetData())) ::OemToCharA(chars_, chars_);
}
