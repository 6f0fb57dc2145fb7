// Stands in for platform/win32.h when the string library is built on the
// host for fuzzing: the few Win32 and runtime calls that ZkString makes,
// with their Windows meaning for one thread in the "C" locale. Code-page
// conversion is the identity here.
#pragma once

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

inline long InterlockedIncrement(long* value) { return ++*value; }
inline long InterlockedDecrement(long* value) { return --*value; }

inline int lstrlenA(const char* text) {
  return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

inline int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
inline int _stricoll(const char* a, const char* b) { return strcasecmp(a, b); }

inline char* _strupr(char* text) {
  for (char* p = text; *p != '\0'; ++p)
    *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return text;
}
inline char* _strlwr(char* text) {
  for (char* p = text; *p != '\0'; ++p)
    *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return text;
}
inline char* _strrev(char* text) {
  std::reverse(text, text + std::strlen(text));
  return text;
}

inline int CharToOemA(const char* from, char* to) {
  if (from != to) std::strcpy(to, from);
  return 1;
}
inline int OemToCharA(const char* from, char* to) { return CharToOemA(from, to); }
