// ZKFile: the stream layer's reader/writer with positioning, a thin class
// over one Win32 file handle. Every failure is raised in pointer form: a
// heap-allocated ZkStreamException* that the handler owns and deletes
// (stream/stream_exception.h). Only an open failure carries a text, the
// path. The platform's last-error value is neither consulted nor recorded.
//
// States: without a file (default constructor, after Close, after a failed
// Open); holding its own handle (after a successful Open), which it closes
// on destruction; holding a borrowed handle (handle constructor), which it
// leaves open.
#pragma once

#include "platform/win32.h"
#include "stream/stream_interfaces.h"

// Open flags: three independent groups, combined with |.
// Access, bits 0-1 (3 is refused).
constexpr unsigned int ZK_READ = 0x0000;       // GENERIC_READ
constexpr unsigned int ZK_WRITE = 0x0001;      // GENERIC_WRITE
constexpr unsigned int ZK_READWRITE = 0x0002;  // both
// Sharing, bits 4-6; 0 means no sharing as well (0x50, 0x60, 0x70 are
// refused).
constexpr unsigned int ZK_SHARE_EXCLUSIVE = 0x0010;  // share mode 0
constexpr unsigned int ZK_SHARE_DENYWRITE = 0x0020;  // others may read
constexpr unsigned int ZK_SHARE_DENYREAD = 0x0030;   // others may write
constexpr unsigned int ZK_SHARE_DENYNONE = 0x0040;   // others may do both
// Creation, bits 12-14. ZK_CREATE alone: CREATE_ALWAYS (an existing file is
// truncated); ZK_CREATE | ZK_NOTRUNCATE: OPEN_ALWAYS; ZK_CREATE_NEW, with
// or without the other two: CREATE_NEW (the open fails when any file of
// that name exists, so nothing of somebody else's is ever opened);
// otherwise the file must exist (OPEN_EXISTING).
constexpr unsigned int ZK_CREATE = 0x1000;
constexpr unsigned int ZK_NOTRUNCATE = 0x2000;
constexpr unsigned int ZK_CREATE_NEW = 0x4000;

constexpr unsigned int ZK_ACCESS_MASK = 0x0003;
constexpr unsigned int ZK_SHARE_MASK = 0x0070;

class ZKFile : public ZKSeekReadWrite {
 public:
  // No file.
  ZKFile();
  // Wraps a handle opened elsewhere; destruction leaves it open.
  explicit ZKFile(HANDLE handle);
  // Opens `path` with `flags`; if Open returns 0, raises code 7 whose text
  // is `path`.
  ZKFile(const char* path, unsigned int flags);
  // Closes an own handle. A close failure is swallowed here (an exception
  // must not leave a destructor); call Close to learn about it.
  virtual ~ZKFile();

  ZKFile(const ZKFile&) = delete;
  ZKFile& operator=(const ZKFile&) = delete;

  // Forgets any handle held before (neither closing nor remembering it),
  // then opens `path` with CreateFileA as the flags say. Returns 1 on
  // success, the stream then owning the handle. Returns 0, raising nothing,
  // if CreateFileA fails or the flags hold access 3 or sharing 0x50, 0x60
  // or 0x70.
  int Open(const char* path, unsigned int flags);

  // Closes the handle, if any; always ends without a file. Raises code 8 if
  // the platform close call failed.
  void Close();

  // The handle held (own or borrowed), or null.
  HANDLE GetHandle() const { return handle_; }

  // One ReadFile call: returns the bytes read, 0 at the end of the file or
  // at once for count 0. Raises code 1 on failure.
  unsigned long stRead(void* buffer, unsigned long count) override;
  // One WriteFile call: returns count, 0 at once for count 0. Raises code 2
  // on failure and code 3 on a short write.
  unsigned long stWrite(const void* buffer, unsigned long count) override;
  // Length via three virtual stSeek calls (remember, end, back); raises
  // code 4 if the position is not restored.
  unsigned long stGetLength() override;
  // Raises code 4 on failure.
  unsigned long stTell() override;
  // `origin` is passed through as FILE_BEGIN/FILE_CURRENT/FILE_END. Raises
  // code 4 on failure (for example a negative position).
  unsigned long stSeek(long distance, int origin) override;
  // LockFile: 0 on success, -1 on failure, never raises. `reserved` is
  // ignored.
  long stLock(unsigned long offset, unsigned long length,
              unsigned long reserved) override;
  // UnlockFile: the platform's nonzero result; raises code 6 on failure.
  long stUnlock(unsigned long offset, unsigned long length) override;

 private:
  HANDLE handle_;
  int ownsHandle_;
};
