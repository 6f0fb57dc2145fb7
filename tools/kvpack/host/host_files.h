// The few file-system calls kvpack makes, with one interface on Linux and on
// Windows. Paths and names are UTF-8 on both sides: on Windows every call
// goes through the wide-character functions, so names outside the ANSI code
// page are found as they are and can be refused by name.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bytes/byte_pieces.h"
#include "bytes/byte_sink.h"

#ifdef _WIN32
#include "platform/scoped_handle.h"
#endif

namespace kv {

// What a path names, as far as kvpack cares.
enum class ItemKind { kFile, kFolder, kLink, kOther };

// Which file an item is: on Linux its device and inode, on Windows its
// volume serial number and file index. Equal identities are one file.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity& o) const { return volume == o.volume && index == o.index; }
};

struct FolderItem {
  // The name in UTF-8. On Windows a name that is no valid UTF-16 (an unpaired
  // surrogate) keeps U+FFFD in its place and has validName false; on Linux
  // the bytes are taken as they are (they may not be UTF-8).
  std::string name;
  bool validName = true;
  ItemKind kind = ItemKind::kOther;
  std::uint64_t size = 0;    // bytes, for files
  std::int64_t mtime = 0;    // last-write time, whole seconds since 1970 (rounded down)
  FileIdentity identity;     // for files
};

// Describes the item at path without following a final symbolic link (or,
// on Windows, a reparse point). False with "path: reason" in *error when it
// cannot be looked at (it does not exist, access denied, ...).
bool StatPath(const std::string& path, FolderItem* item, std::string* error);

// Lists the items of a folder (without "." and ".."), in no particular
// order. False with "path: reason" in *error.
bool ListFolder(const std::string& path, std::vector<FolderItem>* items, std::string* error);

// Largest file ReadWholeFile reads by default: far beyond any stub, picture
// or icon, far below the memory of any machine kvpack runs on.
inline constexpr std::uint64_t kMaxWholeFile = 256u << 20;

// Reads the whole file, following a final link. The file is opened without
// blocking (a FIFO or device would hang an ordinary open) and checked
// through the open handle, before anything is read, to be a regular file of
// at most maxBytes bytes. False with "path: reason" in *error.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error,
                   std::uint64_t maxBytes = kMaxWholeFile);

// A payload file opened once, when its bytes are read: without following a
// final link and without blocking, and checked through the open handle to
// be the regular file the scan saw (the same identity and size). Reads go
// through that handle, from any thread; it is closed with the last owner.
class PayloadFile {
 public:
  // Null with "path: reason" (a link, no regular file, another file, or
  // another size than the scan saw).
  static std::shared_ptr<const PayloadFile> Open(const std::string& path,
                                                 const FileIdentity& identity, std::uint64_t size,
                                                 std::string* error);
  // Reads the `size` bytes at `offset`, exactly; with `last` also checks
  // that the file ends there (it changed since it was looked at otherwise).
  // False with "path: reason".
  bool Read(std::uint64_t offset, std::uint64_t size, bool last, std::vector<std::uint8_t>* bytes,
            std::string* error) const;
  ~PayloadFile();
  PayloadFile(const PayloadFile&) = delete;
  PayloadFile& operator=(const PayloadFile&) = delete;

 private:
  PayloadFile(const std::string& path, std::intptr_t handle) : path_(path), handle_(handle) {}
  const std::string path_;
  const std::intptr_t handle_;
};

// "path: reason" when a file opened as the scan's `identity` and `size`
// turned out to have `found` and `foundSize`; true when they agree.
bool SameAsScanned(const std::string& path, const FileIdentity& identity, std::uint64_t size,
                   const FileIdentity& found, std::uint64_t foundSize, std::string* error);

// A file mapped read-only into memory: its bytes are read from the disk as
// they are touched, and the system may drop them again, so a file of any
// size costs address space, not memory. Not copyable; unmapped and closed
// when destroyed.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps the whole file, following a final link, opened without blocking
  // and checked through its handle to be a regular file. An empty file maps
  // to no bytes (data() is null). False with "path: reason".
  bool Open(const std::string& path, std::string* error) { return OpenAs(path, nullptr, 0, error); }
  // Maps a payload file as PayloadFile::Open opens it: no link followed,
  // and the file the scan saw, of that size.
  bool OpenScanned(const std::string& path, const FileIdentity& identity, std::uint64_t size,
                   std::string* error) {
    return OpenAs(path, &identity, size, error);
  }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  // Lends the mapped bytes [at, at + count) as a PieceLender does: the
  // piece lent before is let go, its pages dropped from the process's
  // memory, so that reading a file piece by piece holds one piece at a time
  // (on Windows each piece is a view of its own: a system may keep every
  // page of one large view that was once touched). Null when the range is
  // not inside the mapping or the system refuses the view.
  const std::uint8_t* Piece(const std::uint8_t* at, std::size_t count);
  // Piece as a PieceLender, for the readers that borrow through one.
  PieceLender Lender() {
    return [this](const std::uint8_t* at, std::size_t count) { return Piece(at, count); };
  }

 private:
  // Open, or OpenScanned when `scanned` is given; in the host's file.
  bool OpenAs(const std::string& path, const FileIdentity* scanned, std::uint64_t scannedSize,
              std::string* error);

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
#ifdef _WIN32
  // The view of the piece lent last, released before the view of the whole
  // file, the mapping and the file (members end in reverse order).
  ScopedFileHandle file_;
  ScopedKernelHandle mapping_;
  ScopedMappedView view_;
  ScopedMappedView pieceView_;
#else
  // The piece lent last: where it starts and ends in the mapping (its pages
  // are dropped).
  std::size_t pieceStart_ = 0;
  std::size_t pieceEnd_ = 0;
  std::intptr_t file_ = -1;
#endif
};

// A file written piece by piece, the byte sink of kvpack's writers: bytes
// appended at its end go through a buffer of 1 MiB; WriteAt writes anywhere
// in what was appended. Created under its final name's temporary form, it
// takes the final name only in Commit; destroyed without a successful
// Commit, it is closed and removed, so a failed build leaves nothing
// behind. Not copyable.
class OutputFile final : public ByteSink {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the file at path new for writing, never through a link: when
  // path is taken (by a file, a link, anything), the first free one of
  // path + "1" to path + "99". False with "path: reason".
  bool Create(const std::string& path, std::string* error);
  // The sink: errors name the path.
  bool Append(const std::uint8_t* data, std::size_t count, std::string* error) override;
  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count,
               std::string* error) override;
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count,
              std::string* error) override;
  std::uint64_t Size() const override { return size_; }
  // Writes what is buffered, closes the file, lets `check` (when given)
  // read the closed file at the path it is given, and renames it to target
  // (replacing a file there). False with "path: reason", or with what
  // `check` said; the file is then removed.
  bool Commit(const std::string& target, std::string* error,
              const std::function<bool(const std::string& path, std::string* error)>& check =
                  nullptr);

 private:
  bool Flush(std::string* error);
  // The system's side, in host_files_posix.cpp and host_files_win.cpp.
  bool IsOpen() const;
  // Creates path_ new; false with *taken set when something is there.
  bool OpenNew(bool* taken, std::string* error);
  bool WriteRaw(std::uint64_t offset, const std::uint8_t* data, std::size_t count,
                std::string* error);
  bool ReadRaw(std::uint64_t offset, std::uint8_t* data, std::size_t count, std::string* error);
  bool CloseRaw(std::string* error);
  bool RenameTo(const std::string& target, std::string* error);
  void Discard();

  std::string path_;
#ifdef _WIN32
  ScopedFileHandle handle_;
#else
  std::intptr_t handle_ = -1;
#endif
  std::vector<std::uint8_t> buffer_;
  std::uint64_t flushed_ = 0;  // bytes already in the file
  std::uint64_t size_ = 0;     // flushed_ plus what the buffer holds
};

// Writes bytes to path through a temporary file beside it
// ("<path>.kvpack-tmp", created as OutputFile::Create does) that is renamed
// over path only once it is complete and closed: a failure leaves an
// existing file at path untouched and removes the temporary file. False
// with "path: reason" in *error.
bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    std::string* error);

// Like WriteWholeFile, but leaves the file alone (and its time stamp) when
// it already holds exactly these bytes.
bool WriteFileIfChanged(const std::string& path, const std::vector<std::uint8_t>& bytes,
                        std::string* error);

// Removes the file; one that is not there is fine.
bool RemoveFileIfPresent(const std::string& path, std::string* error);

// Creates the folder and its missing parents; an existing folder is fine.
bool MakeFolders(const std::string& path, std::string* error);

// The last component of a path ('/' and, on Windows, '\' separate).
std::string BaseName(const std::string& path);

// The folder that holds this program's own executable file, or "" when the
// system does not say.
std::string ProgramFolder();

// The path separator for joining: '/' on Linux, '\' on Windows.
char PathSeparator();

}  // namespace kv
