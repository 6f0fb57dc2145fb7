// Paths past 260 characters on Windows: the file calls take a full path of
// up to 32,767 characters in the \\?\ form, which the system passes to the
// file system as it is (no "." or ".." resolved, no '/' taken as a
// separator). Portable, so that the conversion is tested on every host.
#pragma once

#include <string>

namespace kv {

// The \\?\ form of a full path, one the system has already made absolute
// and clean (GetFullPathNameW: backslashes only, "." and ".." resolved):
// "C:\a\b" becomes "\\?\C:\a\b", "\\server\share\a" becomes
// "\\?\UNC\server\share\a"; a path already in the \\?\ or \\.\ form, or one
// that is neither a drive path nor a UNC path, is returned as it is.
std::wstring ExtendedLengthPath(const std::wstring& fullPath);

}  // namespace kv
