// ZkString: the system's 8-bit, NUL-terminated, reference-counted string.
//
// Layout (an interface: the executable exports the whole class by name and
// other programs bind to it):
//
//   ZkString object:  one pointer to the first character of a string block.
//                     Never null. No base class, no virtual functions.
//
//   string block:     +0  ZkStringData header (12 bytes)
//                     +12 allocLength + 1 characters; character dataLength
//                         is NUL between member calls.
//
// Copies share one block until one of them changes it (copy on write). All
// empty strings that own no block point at one static, constant-initialised
// block whose count is -2; no member ever changes it. A count of -1 marks a
// block locked by LockBuffer: it belongs to its one string and is never
// shared. Blocks come from the global operator new and go back through the
// global operator delete, always sized exactly to the requested capacity.
//
// Texts passed as const char* are measured with SafeStrlen wherever a null
// pointer is allowed (constructors, assignment, concatenation, +=, the text of
// Insert, the texts of Replace/ReplaceNoCase, the sets of TrimLeft/TrimRight);
// everywhere else a text must be a valid C string.
//
// Allocation failure: the global operator new throws std::bad_alloc out of the
// allocating member; the object stays a valid string. A length that no block
// can hold (above INT_MAX characters: what a concatenation, an insertion, a
// replacement or the wide view would need) counts as one too: std::bad_alloc
// is thrown before anything is allocated or changed.
//
// Threads: counts of shared blocks change with interlocked operations, so two
// strings that share a block may live on different threads; one string object
// must not be used by two threads at once.
#pragma once

#include <cstdarg>
#include <stdexcept>

#include "platform/export.h"

// Header of a string block. Each field is signed 32-bit.
struct ZkStringData {
  // 1 or more: number of strings sharing the block. -1: locked (one owner,
  // never shared). -2: the shared empty block (never counted, never freed).
  long refCount;
  // Characters of the text, terminator not counted.
  int dataLength;
  // Capacity: characters the block can hold, terminator not counted.
  int allocLength;

  char* data() { return reinterpret_cast<char*>(this + 1); }
};

// The foreign string type of the framework that peer programs are built
// with. ZkString reads only its first member: a pointer to NUL-terminated
// characters.
class CString {
 public:
  const char* m_pszData;
};

// Thrown by ZkString::FormatMessageA, and by no other member, when the system
// message formatter fails or hands back no text. The string keeps its
// previous text. SystemError() is the system's last-error code at the failure.
class ZkStringFormatError : public std::runtime_error {
 public:
  explicit ZkStringFormatError(unsigned long systemError)
      : std::runtime_error("ZkString::FormatMessageA: message formatting failed"),
        systemError_(systemError) {}
  unsigned long SystemError() const { return systemError_; }

 private:
  unsigned long systemError_;
};

class ZkString;

// The static empty string; its block is the shared empty block.
KV_EXPORT const ZkString& ZkGetEmptyString();

// Concatenation. The result owns a new block of exactly the combined length
// (a ZkString operand contributes its whole dataLength, NULs included; a C
// string its SafeStrlen; a char exactly one character, NUL included). Two
// empty operands give the shared empty block.
KV_EXPORT ZkString operator+(const ZkString& left, const ZkString& right);
KV_EXPORT ZkString operator+(const ZkString& left, const char* right);
KV_EXPORT ZkString operator+(const char* left, const ZkString& right);
KV_EXPORT ZkString operator+(const ZkString& left, char right);
KV_EXPORT ZkString operator+(char left, const ZkString& right);

class KV_EXPORT ZkString {
 public:
  // ---- Construction and destruction -------------------------------------

  // The shared empty string; allocates nothing.
  ZkString();
  // Shares the source's block (one interlocked increment, no copy) unless the
  // source is locked or empty: a locked source is copied as a C string (up to
  // its first NUL), an empty one yields the shared empty block.
  ZkString(const ZkString& source);
  // A block of exactly SafeStrlen(text) characters; empty or null text gives
  // the shared empty block.
  ZkString(const char* text);
  ZkString(const unsigned char* text);
  // `repeat` copies of `ch` in a block of exactly that size; repeat < 1 gives
  // the empty string.
  ZkString(char ch, int repeat);
  // Exactly `length` bytes from `chars`, NULs included. `chars` must have
  // that many readable bytes; length 0 gives the empty string (even for null).
  ZkString(const char* chars, int length);
  // The text that the foreign object's first member points to.
  ZkString(const CString& source);
  // Drops this string's reference; the last owner frees the block.
  ~ZkString();

  // ---- Assignment and clearing (each returns *this) ---------------------

  // Shares the source's block; copies the text instead when either block is
  // locked (the target then keeps its own block if it is large enough).
  // Self-assignment and assignment between sharers change nothing.
  const ZkString& operator=(const ZkString& source);
  // Copies SafeStrlen(text) characters. Reuses this string's block when it is
  // private (owned or locked) and large enough; `text` may point into it.
  const ZkString& operator=(const char* text);
  const ZkString& operator=(const unsigned char* text);
  // One character; a NUL gives a string of length 1.
  const ZkString& operator=(char ch);
  const ZkString& operator=(const CString& source);
  // Length 0. An owned or shared string moves to the shared empty block; a
  // locked string keeps its block, capacity and lock.
  void Empty();

  // ---- Appending (each returns *this) -----------------------------------

  // Appends in place when the block is private and the text fits; otherwise
  // makes a block of exactly the combined length. The appended text may point
  // into this string (appending a string to itself doubles it).
  const ZkString& operator+=(const char* text);
  const ZkString& operator+=(char ch);
  const ZkString& operator+=(const ZkString& text);

  // ---- Attributes and characters ----------------------------------------

  int GetLength() const;       // dataLength
  int GetAllocLength() const;  // allocLength (capacity)
  bool IsEmpty() const;        // dataLength == 0
  // The character pointer; never null.
  operator const char*() const;
  // The character at `index`; no range check: 0 <= index <= length (the
  // index equal to the length reads the terminator).
  char GetAt(int index) const;
  char operator[](int index) const;
  // Makes the block private, then stores `ch`; 0 <= index < length. Storing
  // NUL embeds it and leaves the length unchanged.
  void SetAt(int index, char ch);

  // ---- Comparison (text up to its first NUL; `text` must not be null) ---

  int Compare(const char* text) const;        // strcmp
  int CompareNoCase(const char* text) const;  // _stricmp
  int Collate(const char* text) const;        // strcoll
  int CollateNoCase(const char* text) const;  // _stricoll

  // ---- Raw buffer access ------------------------------------------------

  // Makes the block private with a capacity of at least `minCapacity` (never
  // shrinks; a private block that is large enough is returned unchanged) and
  // returns it. The caller may write up to GetAllocLength() characters and
  // must call ReleaseBuffer before any other member. On an empty string,
  // GetBuffer(0) returns the shared empty character, which must not be
  // written.
  char* GetBuffer(int minCapacity);
  // Ends a GetBuffer: sets the length to `newLength` (-1: measured with
  // lstrlenA) and terminates there. newLength is -1 or 0..capacity.
  void ReleaseBuffer(int newLength = -1);
  // GetBuffer(length), then the length becomes `length`.
  char* GetBufferSetLength(int length);
  // Replaces a block with spare room by an exact private copy (length 0:
  // the shared empty block), whatever its count; a locked block is unlocked.
  void FreeExtra();
  // GetBuffer(0), then locks the block (count -1): copies of this string get
  // their own text until UnlockBuffer. The shared empty block is never locked.
  char* LockBuffer();
  // Ends a LockBuffer: this string owns its block again (count 1).
  void UnlockBuffer();

  // ---- Search (text up to its first NUL; -1 = not found) ----------------

  int Find(char ch) const;
  // -1 if start >= length. 0 <= start.
  int Find(char ch, int start) const;
  // The empty text is found at 0.
  int Find(const char* text) const;
  // -1 if start > length; the empty text is found at `start`. 0 <= start.
  int Find(const char* text, int start) const;
  int ReverseFind(char ch) const;
  int FindOneOf(const char* set) const;

  // ---- Extraction (a new block, never shared with this string) ----------

  // `count` characters from `first`, clamped: negative values become 0, the
  // count is cut at the end, a first beyond the end gives the empty string.
  ZkString Mid(int first, int count) const;
  ZkString Mid(int first) const;
  ZkString Left(int count) const;   // count clamped to 0..length
  ZkString Right(int count) const;  // count clamped to 0..length
  // The leading run of characters that are in / not in `set`.
  ZkString SpanIncluding(const char* set) const;
  ZkString SpanExcluding(const char* set) const;

  // ---- Trimming (text up to its first NUL) ------------------------------

  // Remove the trailing run of whitespace (isspace), of `ch`, or of
  // characters in `set` (null set: nothing). Only the text before the first
  // NUL is examined; a trim there also drops what follows that NUL.
  void TrimRight();
  void TrimRight(char ch);
  void TrimRight(const char* set);
  // Remove the leading run likewise. A null or empty set returns at once,
  // leaving a shared block shared.
  void TrimLeft();
  void TrimLeft(char ch);
  void TrimLeft(const char* set);

  // ---- Editing ----------------------------------------------------------

  // Inserts at `index` (clamped to 0..length); grows to exactly the new
  // length when needed. Returns the new length.
  int Insert(int index, char ch);
  // As above; a null or empty text changes nothing and returns the length.
  // `text` may point into this string (it is copied first).
  int Insert(int index, const char* text);
  // Deletes up to `count` characters from `index` (negative index: 0).
  // Returns the length BEFORE the deletion.
  int Delete(int index, int count);
  // Replaces every `oldCh` among all dataLength characters; returns the count
  // (0 without touching the string when the two are equal).
  int Replace(char oldCh, char newCh);
  // Replaces every non-overlapping `oldText` in every NUL-separated piece up
  // to dataLength, left to right; a null `newText` deletes. Returns the count.
  // Allocates at most once, exactly to the result length, only when the
  // result does not fit. Null or empty `oldText` returns 0. Either text may
  // point into this string (the texts are then copied first, one allocation
  // each). A result longer than INT_MAX characters throws std::bad_alloc and
  // leaves the string unchanged.
  int Replace(const char* oldText, const char* newText);
  // As Replace, with `oldText` found without regard to case (_strupr on both
  // sides); `newText` is inserted as given. Allocates two temporaries first
  // (upper-cased copies of the text and of `oldText`); should one of them
  // fail, std::bad_alloc is thrown and the string is unchanged. Both take
  // time in proportion to the text and the result.
  int ReplaceNoCase(const char* oldText, const char* newText);
  // Removes every `ch` among all dataLength characters; returns the count.
  int Remove(char ch);

  // ---- Case, order and code page (in place, up to the first NUL) --------

  void MakeUpper();    // _strupr
  void MakeLower();    // _strlwr
  void MakeReverse();  // _strrev
  void CharToOemA();   // ANSI code page to OEM code page
  void OemToCharA();   // OEM code page to ANSI code page

  // ---- Formatting -------------------------------------------------------

  // printf-style formatting with the C runtime's own formatter (msvcrt's
  // _vsnprintf): its conversions and size prefixes (I64, F and N, L taking a
  // double), its text ("%e" writes three exponent digits). The capacity is
  // first made at least an estimate of the output length (32 characters per
  // integer or pointer, 128 per floating value, the text length for %s, read
  // no further than its precision, each raised to width + precision), so
  // ordinary formats allocate at most once; output that does not fit the
  // estimate is never written past the buffer: the buffer grows to the exact
  // output length and the text is formatted again (should that growth run
  // out of memory, the string is left empty and std::bad_alloc thrown). A
  // format the runtime refuses gives the empty text. A string that already
  // had more room keeps it. The format and text arguments may point into
  // this string: the text is then made in a new block, which the string
  // takes over.
  void Format(const char* format, ...);
  void FormatV(const char* format, va_list args);
  // Message-style formatting through the system formatter: %1..%99 take the
  // variable arguments by position (default type !s!). Throws
  // ZkStringFormatError, leaving the string unchanged, when the formatter
  // fails or returns no text.
  void FormatMessageA(const char* format, ...);

  // ---- Wide view --------------------------------------------------------

  // A 16-bit copy of the text (up to its first NUL, converted with mbstowcs)
  // stored in this string's own block at character offset (length + 2) & ~1;
  // the capacity becomes at least 3 times that offset and the narrow text is
  // kept (its length is measured again). Valid until the string is next
  // changed or destroyed; the next call rewrites it. If the text cannot be
  // converted the wide text is empty. A text of more than 715827881
  // characters has no room for it: std::bad_alloc, the string unchanged.
  operator const unsigned short*();

 protected:
  // ---- Block helpers (exported with the class) --------------------------

  ZkStringData* GetData() const;
  // Points at the shared empty block.
  void Init();
  // Points at a new block of exactly n characters (count 1, length n,
  // character n NUL); n = 0 points at the shared empty block. Does not
  // release the previous block.
  void AllocBuffer(int n);
  // Drops this string's reference and points at the shared empty block.
  void Release();
  // Drops one reference to `data`; frees it when none is left. The shared
  // empty block is left alone.
  static void Release(ZkStringData* data);
  // Gives a shared block's owner a private copy of exactly its length.
  void CopyBeforeWrite();
  // Makes sure of a private block of capacity n, discarding the old text if
  // a new block is needed.
  void AllocBeforeWrite(int n);
  // Points `dest`, a string that owns no block, at a new block of
  // copyLength + extraLength characters holding copyLength characters from
  // copyIndex (0 characters: the shared empty block).
  void AllocCopy(ZkString& dest, int copyLength, int copyIndex, int extraLength) const;
  // The text becomes n characters from `text` (may point into this string).
  void AssignCopy(int n, const char* text);
  // On a string that owns no block: a new block holding both pieces.
  void ConcatCopy(int length1, const char* text1, int length2, const char* text2);
  // Appends n characters from `text`.
  void ConcatInPlace(int n, const char* text);
  // 0 for a null pointer, else strlen.
  static int SafeStrlen(const char* text);

 private:
  friend ZkString operator+(const ZkString&, const ZkString&);
  friend ZkString operator+(const ZkString&, const char*);
  friend ZkString operator+(const char*, const ZkString&);
  friend ZkString operator+(const ZkString&, char);
  friend ZkString operator+(char, const ZkString&);

  char* chars_;
};

// Comparisons through Compare. The (text, string) forms call Compare on the
// right-hand string and mirror the result.
KV_EXPORT bool operator==(const ZkString& left, const ZkString& right);
KV_EXPORT bool operator==(const ZkString& left, const char* right);
KV_EXPORT bool operator==(const char* left, const ZkString& right);
KV_EXPORT bool operator!=(const ZkString& left, const ZkString& right);
KV_EXPORT bool operator!=(const ZkString& left, const char* right);
KV_EXPORT bool operator!=(const char* left, const ZkString& right);
KV_EXPORT bool operator<(const ZkString& left, const ZkString& right);
KV_EXPORT bool operator<(const ZkString& left, const char* right);
KV_EXPORT bool operator<(const char* left, const ZkString& right);
KV_EXPORT bool operator>(const ZkString& left, const ZkString& right);
KV_EXPORT bool operator>(const ZkString& left, const char* right);
KV_EXPORT bool operator>(const char* left, const ZkString& right);
KV_EXPORT bool operator<=(const ZkString& left, const ZkString& right);
KV_EXPORT bool operator<=(const ZkString& left, const char* right);
KV_EXPORT bool operator<=(const char* left, const ZkString& right);
KV_EXPORT bool operator>=(const ZkString& left, const ZkString& right);
KV_EXPORT bool operator>=(const ZkString& left, const char* right);
KV_EXPORT bool operator>=(const char* left, const ZkString& right);
