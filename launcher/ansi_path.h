// Paths as the launcher's ANSI file functions can name them. The launcher
// works in the ANSI code page throughout; the system hands out paths in
// Unicode, and a user name outside the code page (a Cyrillic or Chinese one
// on a Western system) puts such characters into the temporary folder and
// often into the download folder the program was started from. Converted
// as they stand, those characters become "?" and the path names nothing.
#pragma once

#include <string>

namespace kv {

// What the launcher can use for a path.
struct AnsiPath {
  bool ok = false;         // `ansi` names the same file or folder as the path
  bool shortForm = false;  // `ansi` is the path's short (8.3) form
  std::string ansi;        // in the ANSI code page
};

// The short (8.3) form of `path`, or empty when the system has none (short
// names are switched off on the volume, or the path does not exist).
std::wstring SystemShortPath(const std::wstring& path);

// Where the ANSI form of `path` (in code page `codePage`) converts back to
// exactly `path`, and no double-byte character of it ends in a byte that
// reads as a backslash (so that the path splits at its real separators),
// returns that form. Otherwise the same for the short form that `shortPath`
// gives; otherwise ok is false.
AnsiPath ToAnsiPath(const std::wstring& path, unsigned codePage,
                    std::wstring (*shortPath)(const std::wstring&) = SystemShortPath);

// As ToAnsiPath, where the form must also convert exactly to
// `oemCodePage`, the code page in which cmd reads the cleanup script: a
// path that only the ANSI code page holds would be best-fitted in the
// script and name other files there.
AnsiPath ToAnsiAndOemPath(const std::wstring& path, unsigned ansiCodePage, unsigned oemCodePage,
                          std::wstring (*shortPath)(const std::wstring&) = SystemShortPath);

// The user's temporary folder as the system reports it (TMP, then TEMP, ...),
// ending in a backslash; "C:\" when the call fails or the answer does not
// begin with a drive letter, a colon and a backslash (a network path).
std::wstring SystemTemporaryFolder();

// The full path of the program file of `module`; empty when it cannot be
// read.
std::wstring ModulePath(void* module);

}  // namespace kv
