#include "launcher/setup_file.h"

#include "launcher/temp_folder.h"
#include "platform/system_library.h"

namespace kv {

bool IsImageFile(HMODULE image, HANDLE file) {
  // STATUS_SUCCESS when both views are mapped from one file; a copy of the
  // same bytes is another file (STATUS_NOT_SAME_DEVICE).
  using NtAreMappedFilesTheSameFn = LONG(NTAPI*)(PVOID imageView, PVOID fileView);
  static const auto same = reinterpret_cast<NtAreMappedFilesTheSameFn>(
      SystemFunction("ntdll.dll", "NtAreMappedFilesTheSame"));
  if (!same || !image) return false;
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0) return false;
  const SIZE_T viewBytes = size.QuadPart < kSetupFileViewBytes
                               ? static_cast<SIZE_T>(size.QuadPart)
                               : static_cast<SIZE_T>(kSetupFileViewBytes);
  ScopedKernelHandle mapping(::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.IsValid()) return false;
  ScopedMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, viewBytes));
  if (!view.IsValid()) return false;
  return same(image, view.Get()) == 0;
}

bool SetupFile::Hold(HMODULE image, const std::wstring& path) {
  handle_.Reset();
  path_.clear();
  // Inheritable: the second stage gets this handle, and it alone (see
  // LaunchSecondStage). Reading is shared, so the second stage can open
  // the file by its path; writing and deleting are not, so nobody can
  // change, rename or remove it while any copy of the handle is open.
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_.Reset(file);
  if (!IsImageFile(image, file)) {
    handle_.Reset();
    return false;
  }
  // The file cannot move while held, nor can a folder above it; a link on
  // the way to it could still be pointed elsewhere, so the path handed on
  // is the one the system resolves through the handle.
  const std::wstring final = FinalPath(file);
  const bool drivePath = final.size() >= 3 && final[1] == L':' && final[2] == L'\\';
  path_ = drivePath ? final : path;
  return true;
}

}  // namespace kv
