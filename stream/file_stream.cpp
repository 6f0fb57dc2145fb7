#include "stream/file_stream.h"

#include "stream/stream_exception.h"

namespace {

// INVALID_SET_FILE_POINTER: with no high part passed, always a failure.
constexpr DWORD kBadPosition = 0xFFFFFFFF;

// Maps the open flags onto CreateFileA's arguments. False for the access
// and sharing values that have no meaning.
bool MapFlags(unsigned int flags, DWORD* access, DWORD* share,
              DWORD* disposition) {
  switch (flags & ZK_ACCESS_MASK) {
    case ZK_READ: *access = GENERIC_READ; break;
    case ZK_WRITE: *access = GENERIC_WRITE; break;
    case ZK_READWRITE: *access = GENERIC_READ | GENERIC_WRITE; break;
    default: return false;
  }
  switch (flags & ZK_SHARE_MASK) {
    case 0:
    case ZK_SHARE_EXCLUSIVE: *share = 0; break;
    case ZK_SHARE_DENYWRITE: *share = FILE_SHARE_READ; break;
    case ZK_SHARE_DENYREAD: *share = FILE_SHARE_WRITE; break;
    case ZK_SHARE_DENYNONE: *share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default: return false;
  }
  if (flags & ZK_CREATE_NEW) {
    *disposition = CREATE_NEW;
  } else if (flags & ZK_CREATE) {
    *disposition = (flags & ZK_NOTRUNCATE) ? OPEN_ALWAYS : CREATE_ALWAYS;
  } else {
    *disposition = OPEN_EXISTING;
  }
  return true;
}

}  // namespace

ZKFile::ZKFile() : handle_(nullptr), ownsHandle_(0) {}

ZKFile::ZKFile(HANDLE handle) : handle_(handle), ownsHandle_(0) {}

ZKFile::ZKFile(const char* path, unsigned int flags)
    : handle_(nullptr), ownsHandle_(0) {
  if (Open(path, flags) == 0) {
    ZkStreamException::RaiseOnHeap(ZK_ERR_OPEN, path, ::GetLastError());
  }
}

ZKFile::~ZKFile() {
  if (handle_ != nullptr && ownsHandle_ == 1) {
    // Nothing may leave a destructor: not the close failure, and not the
    // std::bad_alloc that allocating its exception can end in.
    try {
      Close();
    } catch (ZkStreamException* e) {
      delete e;
    } catch (...) {
    }
  }
}

int ZKFile::Open(const char* path, unsigned int flags) {
  handle_ = nullptr;
  ownsHandle_ = 0;
  DWORD access, share, disposition;
  if (!MapFlags(flags, &access, &share, &disposition)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  HANDLE h = ::CreateFileA(path, access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  handle_ = h;
  ownsHandle_ = 1;
  return 1;
}

void ZKFile::Close() {
  BOOL closed = TRUE;
  if (handle_ != nullptr) closed = ::CloseHandle(handle_);
  handle_ = nullptr;
  ownsHandle_ = 0;
  if (!closed) ZkStreamException::RaiseOnHeap(ZK_ERR_CLOSE, nullptr, ::GetLastError());
}

unsigned long ZKFile::stRead(void* buffer, unsigned long count) {
  if (count == 0) return 0;
  DWORD read = 0;
  if (!::ReadFile(handle_, buffer, count, &read, nullptr)) {
    ZkStreamException::RaiseOnHeap(ZK_ERR_READ, nullptr, ::GetLastError());
  }
  return read;
}

unsigned long ZKFile::stWrite(const void* buffer, unsigned long count) {
  if (count == 0) return 0;
  DWORD written = 0;
  if (!::WriteFile(handle_, buffer, count, &written, nullptr)) {
    ZkStreamException::RaiseOnHeap(ZK_ERR_WRITE, nullptr, ::GetLastError());
  }
  if (written < count) ZkStreamException::RaiseOnHeap(ZK_ERR_SHORT_WRITE);
  return count;
}

unsigned long ZKFile::stGetLength() {
  // Virtual calls, so a stream derived from this one positions its own way.
  const unsigned long remembered = stSeek(0, ZK_SEEK_CURRENT);
  const unsigned long length = stSeek(0, ZK_SEEK_END);
  if (stSeek(static_cast<long>(remembered), ZK_SEEK_BEGIN) != remembered) {
    ZkStreamException::RaiseOnHeap(ZK_ERR_SEEK, nullptr, ::GetLastError());
  }
  return length;
}

unsigned long ZKFile::stTell() {
  const DWORD position = ::SetFilePointer(handle_, 0, nullptr, FILE_CURRENT);
  if (position == kBadPosition) {
    ZkStreamException::RaiseOnHeap(ZK_ERR_SEEK, nullptr, ::GetLastError());
  }
  return position;
}

unsigned long ZKFile::stSeek(long distance, int origin) {
  const DWORD position = ::SetFilePointer(handle_, distance, nullptr,
                                          static_cast<DWORD>(origin));
  if (position == kBadPosition) {
    ZkStreamException::RaiseOnHeap(ZK_ERR_SEEK, nullptr, ::GetLastError());
  }
  return position;
}

long ZKFile::stLock(unsigned long offset, unsigned long length,
                    unsigned long /*reserved*/) {
  return ::LockFile(handle_, offset, 0, length, 0) ? 0 : -1;
}

long ZKFile::stUnlock(unsigned long offset, unsigned long length) {
  const BOOL result = ::UnlockFile(handle_, offset, 0, length, 0);
  if (!result) ZkStreamException::RaiseOnHeap(ZK_ERR_UNLOCK, nullptr, ::GetLastError());
  return result;
}
