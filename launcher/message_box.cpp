#include "launcher/message_box.h"

#include <vector>

namespace kv {
namespace {

bool (*stationQuery)() = nullptr;

std::wstring FromAnsi(const char* text) {
  if (!text || !*text) return std::wstring();
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::vector<wchar_t> wide(static_cast<size_t>(length));
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  return std::wstring(wide.data());
}

}  // namespace

bool WindowStationVisible() {
  if (stationQuery) return stationQuery();
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  if (!::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                   &needed)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void SetWindowStationQuery(bool (*query)()) { stationQuery = query; }

int ShowMessage(const std::wstring& text, const std::wstring& caption, UINT style) {
  if (WindowStationVisible()) {
    return ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
  }
  const std::wstring line = caption + L": " + text + L"\r\n";
  ::OutputDebugStringW(line.c_str());
  return (style & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

int ShowMessage(const char* text, const char* caption, UINT style) {
  return ShowMessage(FromAnsi(text), FromAnsi(caption), style);
}

}  // namespace kv
