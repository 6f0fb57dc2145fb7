#include "tools/kvpack/host/long_path.h"

namespace kv {

std::wstring ExtendedLengthPath(const std::wstring& p) {
  auto startsWith = [&](const wchar_t* prefix) { return p.rfind(prefix, 0) == 0; };
  if (startsWith(L"\\\\?\\") || startsWith(L"\\\\.\\")) return p;
  const bool drive = p.size() >= 3 && ((p[0] >= L'A' && p[0] <= L'Z') ||
                                       (p[0] >= L'a' && p[0] <= L'z')) &&
                     p[1] == L':' && p[2] == L'\\';
  if (drive) return L"\\\\?\\" + p;
  // A UNC path names a server and a share: "\\server\share".
  if (startsWith(L"\\\\") && p.size() > 2 && p[2] != L'\\') return L"\\\\?\\UNC\\" + p.substr(2);
  return p;
}

}  // namespace kv
