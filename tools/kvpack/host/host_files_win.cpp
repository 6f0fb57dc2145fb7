#include "platform/win32.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "pe/wide_text.h"
#include "platform/scoped_handle.h"
#include "tools/kvpack/host/host_files.h"
#include "tools/kvpack/host/long_path.h"

namespace kv {

namespace {

std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const ScopedLocal owner(text);
  std::string out;
  if (n != 0 && text != nullptr) {
    out = WideToUtf8(std::wstring(text, n));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' ||
                            out.back() == '.')) {
      out.pop_back();
    }
  }
  if (out.empty()) out = "system error " + std::to_string(code);
  return out;
}

std::string Why(const std::string& path, DWORD code) { return path + ": " + SystemText(code); }

// Every path the file calls get: made full by the system (which takes '/'
// as a separator and resolves "." and ".."), then in the \\?\ form, which
// lifts the 260-character limit. A path the system cannot make full is
// passed as it is, and its call reports why.
std::wstring Wide(const std::string& path) {
  std::wstring w = Utf8ToWide(path);
  for (wchar_t& c : w) {
    if (c == L'/') c = L'\\';
  }
  if (w.empty()) return w;
  std::wstring full(MAX_PATH, L'\0');
  for (int tries = 0; tries < 3; ++tries) {
    const DWORD n = ::GetFullPathNameW(w.c_str(), static_cast<DWORD>(full.size()), &full[0],
                                       nullptr);
    if (n == 0) return w;
    if (n < full.size()) {
      full.resize(n);
      return ExtendedLengthPath(full);
    }
    full.assign(n, L'\0');  // n counts the terminating zero here
  }
  return w;
}

// A path as a user writes it: without the \\?\ form.
std::wstring Shown(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

std::int64_t UnixSeconds(const FILETIME& t) {
  const std::int64_t ticks =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime);
  // 100-ns ticks since 1601; rounded down to whole seconds as Linux reports them.
  const std::int64_t since1601 = ticks >= 0 ? ticks / 10000000 : (ticks - 9999999) / 10000000;
  return since1601 - 11644473600LL;
}

FolderItem FromAttributes(const std::wstring& name, DWORD attributes, DWORD sizeHigh,
                          DWORD sizeLow, const FILETIME& written) {
  FolderItem item;
  item.validName = WideToUtf8Checked(name, &item.name);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    item.kind = ItemKind::kLink;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    item.kind = ItemKind::kFolder;
  } else if (attributes & FILE_ATTRIBUTE_DEVICE) {
    item.kind = ItemKind::kOther;
  } else {
    item.kind = ItemKind::kFile;
  }
  item.size = static_cast<std::uint64_t>(sizeHigh) << 32 | sizeLow;
  item.mtime = UnixSeconds(written);
  return item;
}

FileIdentity Identity(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileIdentity{info.dwVolumeSerialNumber,
                      static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

std::uint64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
}

// The identity of the file at path, the item itself (a reparse point is
// not followed). The directory listing does not give it.
bool IdentityOf(const std::string& path, FileIdentity* identity, std::string* error) {
  const ScopedFileHandle f(::CreateFileW(
      Wide(path).c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!f.IsValid() || !::GetFileInformationByHandle(f.Get(), &info)) {
    *error = Why(path, ::GetLastError());
    return false;
  }
  *identity = Identity(info);
  return true;
}

// Opens path for reading, following a final reparse point only when asked,
// and checks through the handle that it is a regular file on a disk (not a
// pipe, a device or a folder); *info gets what the handle says. Invalid
// with "path: reason" otherwise.
ScopedFileHandle OpenRegular(const std::string& path, bool followLink,
                             BY_HANDLE_FILE_INFORMATION* info, std::string* error) {
  ScopedFileHandle f(::CreateFileW(
      Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
  if (!f.IsValid()) {
    *error = Why(path, ::GetLastError());
    return ScopedFileHandle();
  }
  if (::GetFileType(f.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(f.Get(), info) ||
      (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = path + ": not a regular file";
    return ScopedFileHandle();
  }
  if (!followLink && (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    *error = path + ": a link now, not the file the payload scan saw";
    return ScopedFileHandle();
  }
  return f;
}

}  // namespace

bool StatPath(const std::string& path, FolderItem* item, std::string* error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
    *error = Why(path, ::GetLastError());
    return false;
  }
  *item = FromAttributes(Utf8ToWide(BaseName(path)), data.dwFileAttributes, data.nFileSizeHigh,
                         data.nFileSizeLow, data.ftLastWriteTime);
  return item->kind != ItemKind::kFile || IdentityOf(path, &item->identity, error);
}

bool ListFolder(const std::string& path, std::vector<FolderItem>* items, std::string* error) {
  items->clear();
  WIN32_FIND_DATAW found;
  const ScopedFindHandle search(::FindFirstFileW((Wide(path) + L"\\*").c_str(), &found));
  if (!search.IsValid()) {
    *error = path + ": cannot open folder: " + SystemText(::GetLastError());
    return false;
  }
  DWORD code = ERROR_NO_MORE_FILES;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    items->push_back(FromAttributes(name, found.dwFileAttributes, found.nFileSizeHigh,
                                    found.nFileSizeLow, found.ftLastWriteTime));
  } while (::FindNextFileW(search.Get(), &found) ||
           (code = ::GetLastError()) != ERROR_NO_MORE_FILES);
  if (code != ERROR_NO_MORE_FILES) {
    *error = path + ": cannot read folder: " + SystemText(code);
    return false;
  }
  for (FolderItem& item : *items) {
    if (item.kind == ItemKind::kFile && item.validName &&
        !IdentityOf(path + "\\" + item.name, &item.identity, error)) {
      return false;
    }
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error,
                   std::uint64_t maxBytes) {
  BY_HANDLE_FILE_INFORMATION info;
  const ScopedFileHandle f = OpenRegular(path, true, &info, error);
  if (!f.IsValid()) return false;
  auto tooLarge = [&] {
    *error = path + ": larger than " + std::to_string(maxBytes) + " bytes, more than kvpack reads";
    return false;
  };
  if (SizeOf(info) > maxBytes) return tooLarge();
  bytes->clear();
  std::uint8_t buffer[1 << 16];
  DWORD got = 0;
  while (true) {
    if (!::ReadFile(f.Get(), buffer, sizeof buffer, &got, nullptr)) {
      *error = path + ": read error: " + SystemText(::GetLastError());
      return false;
    }
    if (got == 0) break;
    if (got > maxBytes - bytes->size()) return tooLarge();
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  return true;
}

namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED o = {};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

}  // namespace

PayloadFile::~PayloadFile() { const ScopedFileHandle owner(AsHandle(handle_)); }

std::shared_ptr<const PayloadFile> PayloadFile::Open(const std::string& path,
                                                     const FileIdentity& identity,
                                                     std::uint64_t size, std::string* error) {
  BY_HANDLE_FILE_INFORMATION info;
  ScopedFileHandle h = OpenRegular(path, false, &info, error);
  if (!h.IsValid()) return nullptr;
  std::shared_ptr<const PayloadFile> file(
      new PayloadFile(path, reinterpret_cast<std::intptr_t>(h.Release())));
  if (!SameAsScanned(path, identity, size, Identity(info), SizeOf(info), error)) return nullptr;
  return file;
}

bool PayloadFile::Read(std::uint64_t offset, std::uint64_t size, bool last,
                       std::vector<std::uint8_t>* bytes, std::string* error) const {
  bytes->resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (true) {
    std::uint8_t probe;
    std::uint8_t* into = done < bytes->size() ? bytes->data() + done : &probe;
    std::size_t want = done < bytes->size() ? bytes->size() - done : 1;
    if (into == &probe && !last) break;
    if (want > (1u << 30)) want = 1u << 30;
    // Each read names its offset: the handle is shared by the threads that
    // read pieces of one file.
    OVERLAPPED o = At(offset + done);
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), into, static_cast<DWORD>(want), &got, &o)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      *error = path_ + ": read error: " + SystemText(::GetLastError());
      return false;
    }
    if (got == 0) break;
    if (into == &probe) {
      *error = path_ + ": it grew while being packed";
      return false;
    }
    done += got;
  }
  if (done != bytes->size()) {
    *error = path_ + ": it shrank while being packed";
    return false;
  }
  return true;
}

MappedFile::~MappedFile() = default;

bool MappedFile::OpenAs(const std::string& path, const FileIdentity* scanned,
                        std::uint64_t scannedSize, std::string* error) {
  BY_HANDLE_FILE_INFORMATION info;
  ScopedFileHandle file = OpenRegular(path, scanned == nullptr, &info, error);
  if (!file.IsValid()) return false;
  const std::uint64_t size = SizeOf(info);
  if (scanned != nullptr &&
      !SameAsScanned(path, *scanned, scannedSize, Identity(info), size, error)) {
    return false;
  }
  if (size > SIZE_MAX) {
    *error = path + ": too large to map";
    return false;
  }
  if (size == 0) {
    file_ = std::move(file);
    return true;
  }
  ScopedKernelHandle mapping(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.IsValid()) {
    *error = path + ": cannot map: " + SystemText(::GetLastError());
    return false;
  }
  ScopedMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
  if (!view.IsValid()) {
    *error = path + ": cannot map: " + SystemText(::GetLastError());
    return false;
  }
  file_ = std::move(file);
  mapping_ = std::move(mapping);
  view_ = std::move(view);
  data_ = static_cast<const std::uint8_t*>(view_.Get());
  size_ = static_cast<std::size_t>(size);
  return true;
}

const std::uint8_t* MappedFile::Piece(const std::uint8_t* at, std::size_t count) {
  // Each piece is a view of its own, unmapped when the next is asked for:
  // pages of one view of the whole file may stay in the process (Wine keeps
  // them whatever VirtualUnlock asks), pages of a view that is gone do not.
  pieceView_.Reset();
  if (count == 0) return at;
  if (data_ == nullptr || at < data_ || count > size_ ||
      static_cast<std::size_t>(at - data_) > size_ - count) {
    return nullptr;
  }
  SYSTEM_INFO system;
  ::GetSystemInfo(&system);
  const std::uint64_t offset = static_cast<std::uint64_t>(at - data_);
  const std::uint64_t start = offset / system.dwAllocationGranularity * system.dwAllocationGranularity;
  pieceView_.Reset(::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, static_cast<DWORD>(start >> 32),
                                   static_cast<DWORD>(start),
                                   static_cast<SIZE_T>(offset - start + count)));
  if (!pieceView_.IsValid()) return nullptr;
  return static_cast<const std::uint8_t*>(pieceView_.Get()) + (offset - start);
}

bool OutputFile::IsOpen() const { return handle_.IsValid(); }

bool OutputFile::OpenNew(bool* taken, std::string* error) {
  // CREATE_NEW: created here or not at all, never through a link at the name.
  handle_.Reset(::CreateFileW(Wide(path_).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_.IsValid()) {
    const DWORD code = ::GetLastError();
    *taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    *error = Why(path_, code);
    return false;
  }
  return true;
}

bool OutputFile::WriteRaw(std::uint64_t offset, const std::uint8_t* data, std::size_t count,
                          std::string* error) {
  std::size_t done = 0;
  while (done < count) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
    OVERLAPPED o = At(offset + done);
    DWORD put = 0;
    if (!::WriteFile(handle_.Get(), data + done, want, &put, &o) || put == 0) {
      *error = path_ + ": write error: " + SystemText(::GetLastError());
      return false;
    }
    done += put;
  }
  return true;
}

bool OutputFile::ReadRaw(std::uint64_t offset, std::uint8_t* data, std::size_t count,
                         std::string* error) {
  std::size_t done = 0;
  while (done < count) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
    OVERLAPPED o = At(offset + done);
    DWORD got = 0;
    if (!::ReadFile(handle_.Get(), data + done, want, &got, &o) || got == 0) {
      *error = path_ + ": read error: " + SystemText(::GetLastError());
      return false;
    }
    done += got;
  }
  return true;
}

bool OutputFile::CloseRaw(std::string* error) {
  // Closed here, before the rename, where a failed close is a failed write.
  if (!::CloseHandle(handle_.Release())) {
    *error = path_ + ": write error: " + SystemText(::GetLastError());
    return false;
  }
  return true;
}

bool OutputFile::RenameTo(const std::string& target, std::string* error) {
  if (!::MoveFileExW(Wide(path_).c_str(), Wide(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = Why(target, ::GetLastError());
    return false;
  }
  return true;
}

void OutputFile::Discard() {
  handle_.Reset();
  if (!path_.empty()) ::DeleteFileW(Wide(path_).c_str());
  path_.clear();
}

bool MakeFolders(const std::string& path, std::string* error) {
  const std::wstring wide = Wide(path);
  // The root is there: the drive of "\\?\C:\...", the share of
  // "\\?\UNC\server\share\...".
  std::size_t root = 0;
  if (wide.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    root = wide.find(L'\\', wide.find(L'\\', 8) + 1);
    if (root == std::wstring::npos) root = wide.size();
  } else if (wide.rfind(L"\\\\?\\", 0) == 0) {
    root = wide.find(L'\\', 4);
    if (root == std::wstring::npos) root = wide.size();
  }
  for (std::size_t at = root + 1; at <= wide.size(); ++at) {
    if (at != wide.size() && wide[at] != L'\\') continue;
    const std::wstring partial = wide.substr(0, at);
    if (partial.empty() || partial.back() == L':') continue;
    if (!::CreateDirectoryW(partial.c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      *error = Why(WideToUtf8(Shown(partial)), ::GetLastError());
      return false;
    }
  }
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = path + ": not a folder";
    return false;
  }
  return true;
}

std::string ProgramFolder() {
  wchar_t buffer[32768];
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer, 32768);
  if (n == 0 || n >= 32768) return "";
  std::wstring self(buffer, n);
  const std::size_t cut = self.find_last_of(L"\\/");
  return cut == std::wstring::npos ? "" : WideToUtf8(self.substr(0, cut));
}

char PathSeparator() { return '\\'; }

bool RemoveFileIfPresent(const std::string& path, std::string* error) {
  if (!::DeleteFileW(Wide(path).c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
      ::GetLastError() != ERROR_PATH_NOT_FOUND) {
    *error = Why(path, ::GetLastError());
    return false;
  }
  return true;
}

}  // namespace kv
