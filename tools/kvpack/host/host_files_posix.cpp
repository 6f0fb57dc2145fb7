#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/kvpack/host/host_files.h"

namespace kv {

namespace {

std::string Why(const std::string& path, int code) { return path + ": " + std::strerror(code); }

// A mapped file that another program shrinks under kvpack makes the next
// read of a page past its new end a bus error. kvpack then stops with one
// line and exit code 1, and removes the output it was writing, as any other
// failure does, instead of dying with a core.
char g_outputPath[4096];
volatile sig_atomic_t g_haveOutput = 0;

extern "C" void OnBusError(int) {
  static const char kText[] =
      "kvpack: a file it was reading shrank under it (another program changed it); nothing "
      "was written\n";
  if (g_haveOutput) ::unlink(g_outputPath);
  ssize_t ignored = ::write(2, kText, sizeof kText - 1);
  (void)ignored;
  ::_exit(1);
}

void GuardMappedReads() {
  static const bool installed = [] {
    struct sigaction action = {};
    action.sa_handler = OnBusError;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  (void)installed;
}

// The output file the handler removes; one at a time (kvpack writes one).
void RegisterOutput(const std::string& path) {
  g_haveOutput = 0;
  if (path.size() >= sizeof g_outputPath) return;
  std::memcpy(g_outputPath, path.c_str(), path.size() + 1);
  g_haveOutput = 1;
}

void UnregisterOutput() { g_haveOutput = 0; }

FileIdentity Identity(const struct stat& st) {
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                      static_cast<std::uint64_t>(st.st_ino)};
}

FolderItem FromStat(const std::string& name, const struct stat& st) {
  FolderItem item;
  item.name = name;
  if (S_ISREG(st.st_mode)) {
    item.kind = ItemKind::kFile;
  } else if (S_ISDIR(st.st_mode)) {
    item.kind = ItemKind::kFolder;
  } else if (S_ISLNK(st.st_mode)) {
    item.kind = ItemKind::kLink;
  }
  item.size = static_cast<std::uint64_t>(st.st_size);
  item.mtime = st.st_mtim.tv_sec;
  item.identity = Identity(st);
  return item;
}

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

// Opens path for reading without blocking (a FIFO would wait for a writer
// in the open itself, some devices too), following a final link only when
// asked, and checks through the descriptor that it is a regular file; *st
// gets what fstat says. -1 with "path: reason".
int OpenRegular(const std::string& path, bool followLink, struct stat* st, std::string* error) {
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    *error = !followLink && errno == ELOOP
                 ? path + ": a symbolic link now, not the file the payload scan saw"
                 : Why(path, errno);
    return -1;
  }
  if (::fstat(fd, st) != 0) {
    *error = Why(path, errno);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(st->st_mode)) {
    *error = path + ": not a regular file";
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool StatPath(const std::string& path, FolderItem* item, std::string* error) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    *error = Why(path, errno);
    return false;
  }
  *item = FromStat(BaseName(path), st);
  return true;
}

bool ListFolder(const std::string& path, std::vector<FolderItem>* items, std::string* error) {
  items->clear();
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) {
    *error = path + ": cannot open folder: " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  errno = 0;
  while (dirent* d = ::readdir(dir)) {
    if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) {
      names.push_back(d->d_name);
    }
    errno = 0;
  }
  const int readErrno = errno;
  ::closedir(dir);
  if (readErrno != 0) {
    *error = path + ": cannot read folder: " + std::strerror(readErrno);
    return false;
  }
  for (const std::string& name : names) {
    struct stat st;
    const std::string child = path + "/" + name;
    if (::lstat(child.c_str(), &st) != 0) {
      *error = Why(child, errno);
      return false;
    }
    items->push_back(FromStat(name, st));
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error,
                   std::uint64_t maxBytes) {
  struct stat st;
  FdCloser f{OpenRegular(path, true, &st, error)};
  if (f.fd < 0) return false;
  auto tooLarge = [&] {
    *error = path + ": larger than " + std::to_string(maxBytes) + " bytes, more than kvpack reads";
    return false;
  };
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return tooLarge();
  bytes->clear();
  std::uint8_t buffer[1 << 16];
  while (true) {
    const ssize_t got = ::read(f.fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = path + ": read error: " + std::strerror(errno);
      return false;
    }
    if (got == 0) break;
    if (static_cast<std::uint64_t>(got) > maxBytes - bytes->size()) return tooLarge();
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  return true;
}

PayloadFile::~PayloadFile() { ::close(static_cast<int>(handle_)); }

std::shared_ptr<const PayloadFile> PayloadFile::Open(const std::string& path,
                                                     const FileIdentity& identity,
                                                     std::uint64_t size, std::string* error) {
  struct stat st;
  const int fd = OpenRegular(path, false, &st, error);
  if (fd < 0) return nullptr;
  std::shared_ptr<const PayloadFile> file(new PayloadFile(path, fd));
  if (!SameAsScanned(path, identity, size, Identity(st), static_cast<std::uint64_t>(st.st_size),
                     error)) {
    return nullptr;
  }
  return file;
}

bool PayloadFile::Read(std::uint64_t offset, std::uint64_t size, bool last,
                       std::vector<std::uint8_t>* bytes, std::string* error) const {
  const int fd = static_cast<int>(handle_);
  bytes->resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (true) {
    std::uint8_t probe;
    std::uint8_t* at = done < bytes->size() ? bytes->data() + done : &probe;
    const std::size_t want = done < bytes->size() ? bytes->size() - done : 1;
    if (at == &probe && !last) break;
    const ssize_t got = ::pread(fd, at, want, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = path_ + ": read error: " + std::strerror(errno);
      return false;
    }
    if (got == 0) break;
    if (at == &probe) {
      *error = path_ + ": it grew while being packed";
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  if (done != bytes->size()) {
    *error = path_ + ": it shrank while being packed";
    return false;
  }
  return true;
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  if (file_ != -1) ::close(static_cast<int>(file_));
}

bool MappedFile::OpenAs(const std::string& path, const FileIdentity* scanned,
                        std::uint64_t scannedSize, std::string* error) {
  GuardMappedReads();
  struct stat st;
  const int fd = OpenRegular(path, scanned == nullptr, &st, error);
  if (fd < 0) return false;
  file_ = fd;
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  if (scanned != nullptr &&
      !SameAsScanned(path, *scanned, scannedSize, Identity(st), size, error)) {
    return false;
  }
  if (size > SIZE_MAX) {
    *error = path + ": too large to map";
    return false;
  }
  size_ = static_cast<std::size_t>(size);
  if (size_ == 0) return true;
  void* view = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) {
    size_ = 0;
    *error = path + ": cannot map: " + std::strerror(errno);
    return false;
  }
  data_ = static_cast<const std::uint8_t*>(view);
  return true;
}

const std::uint8_t* MappedFile::Piece(const std::uint8_t* at, std::size_t count) {
  if (pieceEnd_ > pieceStart_) {
    // The last piece's whole pages: they are read from the file again if
    // touched once more.
    const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(data_);
    const std::uintptr_t first = (base + pieceStart_ + page - 1) / page * page;
    const std::uintptr_t end = (base + pieceEnd_) / page * page;
    if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
  }
  pieceStart_ = pieceEnd_ = 0;
  if (count == 0) return at;
  if (data_ == nullptr || at < data_ || count > size_ ||
      static_cast<std::size_t>(at - data_) > size_ - count) {
    return nullptr;
  }
  pieceStart_ = static_cast<std::size_t>(at - data_);
  pieceEnd_ = pieceStart_ + count;
  return at;
}

bool OutputFile::IsOpen() const { return handle_ != -1; }

bool OutputFile::OpenNew(bool* taken, std::string* error) {
  // O_EXCL: created here or not at all, never through a link at the name.
  handle_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (handle_ < 0) {
    handle_ = -1;
    *taken = errno == EEXIST;
    *error = Why(path_, errno);
    return false;
  }
  RegisterOutput(path_);
  return true;
}

bool OutputFile::WriteRaw(std::uint64_t offset, const std::uint8_t* data, std::size_t count,
                          std::string* error) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = ::pwrite(static_cast<int>(handle_), data + done, count - done,
                                 static_cast<off_t>(offset + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      *error = path_ + ": write error: " + std::strerror(errno);
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

bool OutputFile::ReadRaw(std::uint64_t offset, std::uint8_t* data, std::size_t count,
                         std::string* error) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(static_cast<int>(handle_), data + done, count - done,
                                static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *error = path_ + ": read error: " + (got < 0 ? std::strerror(errno) : "unexpected end");
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool OutputFile::CloseRaw(std::string* error) {
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  if (::close(fd) != 0) {
    *error = path_ + ": write error: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool OutputFile::RenameTo(const std::string& target, std::string* error) {
  if (std::rename(path_.c_str(), target.c_str()) != 0) {
    *error = Why(target, errno);
    return false;
  }
  UnregisterOutput();
  return true;
}

void OutputFile::Discard() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
  if (!path_.empty()) {
    ::unlink(path_.c_str());
    UnregisterOutput();
  }
  path_.clear();
}

bool MakeFolders(const std::string& path, std::string* error) {
  std::string partial;
  std::size_t at = 0;
  while (at <= path.size()) {
    const std::size_t slash = path.find('/', at);
    partial = path.substr(0, slash == std::string::npos ? path.size() : slash);
    at = slash == std::string::npos ? path.size() + 1 : slash + 1;
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = Why(partial, errno);
      return false;
    }
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = path + ": not a folder";
    return false;
  }
  return true;
}

std::string ProgramFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  const std::string self(buffer, static_cast<std::size_t>(n));
  const std::size_t cut = self.rfind('/');
  return cut == std::string::npos ? "" : self.substr(0, cut);
}

char PathSeparator() { return '/'; }

bool RemoveFileIfPresent(const std::string& path, std::string* error) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    *error = Why(path, errno);
    return false;
  }
  return true;
}

}  // namespace kv
