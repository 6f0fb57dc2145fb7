#include "launcher/ansi_path.h"

#include <vector>

#include "platform/win32.h"

namespace kv {
namespace {

// The ANSI form of `path` when it stands for exactly `path`.
bool Convert(const std::wstring& path, unsigned codePage, std::string* ansi) {
  if (path.empty()) return false;
  const int wideLength = static_cast<int>(path.size());
  // No best-fit mapping: "é" must not quietly become "e" on a code page
  // without it, which would name another file.
  const DWORD flags = WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  const int length =
      ::WideCharToMultiByte(codePage, flags, path.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return false;
  std::string bytes(static_cast<size_t>(length), '\0');
  if (::WideCharToMultiByte(codePage, flags, path.data(), wideLength, &bytes[0], length, nullptr,
                            &usedDefault) != length ||
      usedDefault) {
    return false;
  }
  // The way back must give the same characters.
  const int back = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length,
                                         nullptr, 0);
  if (back != wideLength) return false;
  std::wstring again(static_cast<size_t>(back), L'\0');
  ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, &again[0], back);
  if (again != path) return false;
  // A double-byte character whose second byte is 0x5C would be cut there
  // by every search for a backslash.
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[i])) && i + 1 < bytes.size()) {
      if (bytes[i + 1] == '\\') return false;
      ++i;
    }
  }
  *ansi = std::move(bytes);
  return true;
}

}  // namespace

std::wstring SystemShortPath(const std::wstring& path) {
  const DWORD needed = ::GetShortPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return std::wstring();
  std::vector<wchar_t> buffer(needed);
  const DWORD length = ::GetShortPathNameW(path.c_str(), buffer.data(), needed);
  if (length == 0 || length >= needed) return std::wstring();
  return std::wstring(buffer.data(), length);
}

AnsiPath ToAnsiPath(const std::wstring& path, unsigned codePage,
                    std::wstring (*shortPath)(const std::wstring&)) {
  AnsiPath result;
  if (Convert(path, codePage, &result.ansi)) {
    result.ok = true;
    return result;
  }
  const std::wstring shortened = shortPath(path);
  if (!shortened.empty() && Convert(shortened, codePage, &result.ansi)) {
    result.ok = true;
    result.shortForm = true;
    return result;
  }
  result.ansi.clear();
  return result;
}

AnsiPath ToAnsiAndOemPath(const std::wstring& path, unsigned ansiCodePage, unsigned oemCodePage,
                          std::wstring (*shortPath)(const std::wstring&)) {
  AnsiPath result;
  std::string oem;
  if (Convert(path, ansiCodePage, &result.ansi) && Convert(path, oemCodePage, &oem)) {
    result.ok = true;
    return result;
  }
  const std::wstring shortened = shortPath(path);
  if (!shortened.empty() && Convert(shortened, ansiCodePage, &result.ansi) &&
      Convert(shortened, oemCodePage, &oem)) {
    result.ok = true;
    result.shortForm = true;
    return result;
  }
  result.ansi.clear();
  return result;
}

std::wstring SystemTemporaryFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH || buffer[1] != L':' || buffer[2] != L'\\') return L"C:\\";
  return std::wstring(buffer, length);
}

std::wstring ModulePath(void* module) {
  // Paths may be longer than MAX_PATH; the buffer grows until the name fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(),
                                              static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    if (buffer.size() >= 32768) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace kv
