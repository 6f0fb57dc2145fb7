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

// The first match of `key` (`keyLength` characters) at or after `at` in the
// NUL-separated piece that ends at `pieceEnd`, or null. A rest shorter than
// the key is not searched: strstr measures its key at every call, and a text
// of many short pieces would cost the key's length for each of them.
const char* FindInPiece(const char* at, const char* pieceEnd, const char* key, int keyLength) {
  if (pieceEnd - at < keyLength) return nullptr;
  return std::strstr(at, key);
}

// Upper-cases every NUL-separated piece of the first `length` characters,
// as MakeUpper (_strupr) does for the first.
void UpperPieces(char* text, int length) {
  for (char* piece = text; piece < text + length; piece += ::lstrlenA(piece) + 1) _strupr(piece);
}

// The text forms of Replace and ReplaceNoCase. Linear in the text and the
// result: the case-blind search looks into one upper-cased copy of the text
// and of the old text, made once; the result is written in one pass, each
// character moved once. The algorithm reaches the block through the public
// buffer members, so that no extra member joins the exported interface.
int ReplaceTexts(ZkString& self, const char* oldText, const char* newText, bool noCase) {
  int oldLength =
      oldText == nullptr ? 0 : FieldLength(static_cast<long long>(std::strlen(oldText)));
  if (oldLength == 0) return 0;
  int newLength =
      newText == nullptr ? 0 : FieldLength(static_cast<long long>(std::strlen(newText)));
  const int length = self.GetLength();
  if (length == 0) return 0;

  // The searched text and key: the string's own, or upper-cased copies whose
  // matches lie at the same positions (_strupr maps each character alone).
  ZkString upperText, upperKey;
  const char* text = self;
  const char* key = oldText;
  if (noCase) {
    upperText = ZkString(text, length);
    UpperPieces(upperText.GetBuffer(0), length);
    upperKey = ZkString(oldText, oldLength);
    upperKey.MakeUpper();
    key = upperKey;
  }
  const char* searched = noCase ? static_cast<const char*>(upperText) : text;

  // Counting pass: non-overlapping matches in every NUL-separated piece.
  int count = 0;
  for (const char* piece = searched; piece < searched + length;) {
    const char* pieceEnd = piece + ::lstrlenA(piece);
    for (const char* at = piece; (at = FindInPiece(at, pieceEnd, key, oldLength)) != nullptr;
         at += oldLength) {
      ++count;
    }
    piece = pieceEnd + 1;
  }
  if (count == 0) return 0;

  // Texts inside this string would change under the replacing pass, and may
  // be freed with the old block when it grows: replace with copies of them.
  ZkString ownOld, ownNew;
  if (!noCase && PointsInto(HeaderOf(text), oldText)) {
    ownOld = ZkString(oldText, oldLength);
    key = ownOld;
  }
  if (newLength > 0 && PointsInto(HeaderOf(text), newText)) {
    ownNew = ZkString(newText, newLength);
    newText = ownNew;
  }

  // The result length can exceed any block (a long text, many matches, a
  // longer new text): it is worked out in 64 bits and refused before the
  // string is touched. One allocation at most, of exactly the result length;
  // GetBuffer also makes a shared block private.
  const int resultLength = FieldLength(static_cast<long long>(length) +
                                       static_cast<long long>(newLength - oldLength) * count);
  char* chars = self.GetBuffer(resultLength);

  // Replacing pass over the same pieces, which finds the same matches (the
  // inserted text is never searched again). A growing text is first moved
  // to the end of the block; the result is then written from the front, and
  // as every replacement grows it by the same amount, the writing never
  // passes the characters still to be read.
  const int shift = resultLength > length ? resultLength - length : 0;
  if (shift > 0) std::memmove(chars + shift, chars, static_cast<std::size_t>(length) + 1);
  const char* source = chars + shift;
  if (!noCase) searched = source;
  char* out = chars;
  for (int at = 0; at < length;) {
    const char* pieceEnd = searched + at + ::lstrlenA(searched + at);
    const char* match;
    while ((match = FindInPiece(searched + at, pieceEnd, key, oldLength)) != nullptr) {
      const int before = static_cast<int>(match - searched) - at;
      std::memmove(out, source + at, static_cast<std::size_t>(before));
      out += before;
      if (newLength > 0) std::memcpy(out, newText, static_cast<std::size_t>(newLength));
      out += newLength;
      at += before + oldLength;
    }
    // The rest of the piece with its terminator (the text's own at the end).
    const int rest = static_cast<int>(pieceEnd - searched) - at + 1;
    std::memmove(out, source + at, static_cast<std::size_t>(rest));
    out += rest;
    at += rest;
  }
  self.ReleaseBuffer(resultLength);
  return count;
}

}  // namespace

int ZkString::Replace(const char* oldText, const char* newText) {
  return ReplaceTexts(*this, oldText, newText, false);
}

int ZkString::ReplaceNoCase(const char* oldText, const char* newText) {
  return ReplaceTexts(*this, oldText, newText, true);
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
