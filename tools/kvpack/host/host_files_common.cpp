#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/kvpack/host/host_files.h"

namespace kv {

bool WriteFileIfChanged(const std::string& path, const std::vector<std::uint8_t>& bytes,
                        std::string* error) {
  std::vector<std::uint8_t> old;
  std::string ignored;
  // A file of another size cannot hold these bytes: never read more.
  if (ReadWholeFile(path, &old, &ignored, bytes.size()) && old == bytes) return true;
  return WriteWholeFile(path, bytes, error);
}

bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    std::string* error) {
  OutputFile out;
  static const std::uint8_t kNothing = 0;
  return out.Create(path + ".kvpack-tmp", error) &&
         out.Append(bytes.empty() ? &kNothing : bytes.data(), bytes.size(), error) &&
         out.Commit(path, error);
}

bool SameAsScanned(const std::string& path, const FileIdentity& identity, std::uint64_t size,
                   const FileIdentity& found, std::uint64_t foundSize, std::string* error) {
  if (!(found == identity)) {
    *error = path + ": another file took its place after the payload was scanned";
    return false;
  }
  if (foundSize != size) {
    *error = path + (foundSize > size ? ": it grew while being packed"
                                      : ": it shrank while being packed");
    return false;
  }
  return true;
}

namespace {
constexpr std::size_t kOutputBuffer = 1 << 20;
// Names tried for a new output file: the one asked for, then it with 1 to 99.
constexpr int kOutputNames = 100;
}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(const std::string& path, std::string* error) {
  Discard();
  flushed_ = size_ = 0;
  buffer_.clear();
  buffer_.reserve(kOutputBuffer);
  // A name someone else holds (a file left behind, a planted link) is left
  // alone: the file is only ever created new.
  for (int n = 0; n < kOutputNames; ++n) {
    path_ = n == 0 ? path : path + std::to_string(n);
    bool taken = false;
    if (OpenNew(&taken, error)) return true;
    path_.clear();
    if (!taken) return false;
  }
  *error = path + ": taken, and so are the " + std::to_string(kOutputNames - 1) +
           " names made from it by adding 1 to " + std::to_string(kOutputNames - 1);
  return false;
}

bool OutputFile::Append(const std::uint8_t* data, std::size_t count, std::string* error) {
  if (count >= kOutputBuffer) {
    if (!Flush(error) || !WriteRaw(flushed_, data, count, error)) return false;
    flushed_ += count;
    size_ = flushed_;
    return true;
  }
  if (buffer_.size() + count > kOutputBuffer && !Flush(error)) return false;
  buffer_.insert(buffer_.end(), data, data + count);
  size_ += count;
  return true;
}

bool OutputFile::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count,
                         std::string* error) {
  if (offset > size_ || count > size_ - offset) {
    *error = path_ + ": write past the end of what was written";
    return false;
  }
  return Flush(error) && WriteRaw(offset, data, count, error);
}

bool OutputFile::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count,
                        std::string* error) {
  if (offset > size_ || count > size_ - offset) {
    *error = path_ + ": read past the end of what was written";
    return false;
  }
  return Flush(error) && ReadRaw(offset, data, count, error);
}

bool OutputFile::Flush(std::string* error) {
  if (buffer_.empty()) return true;
  if (!WriteRaw(flushed_, buffer_.data(), buffer_.size(), error)) return false;
  flushed_ += buffer_.size();
  buffer_.clear();
  return true;
}

bool OutputFile::Commit(const std::string& target, std::string* error,
                        const std::function<bool(const std::string&, std::string*)>& check) {
  if (!IsOpen()) {
    *error = path_ + ": not open";
    return false;
  }
  if (!Flush(error) || !CloseRaw(error) || (check && !check(path_, error)) ||
      !RenameTo(target, error)) {
    Discard();
    return false;
  }
  path_.clear();
  return true;
}

std::string BaseName(const std::string& path) {
  const std::size_t cut = path.find_last_of(PathSeparator() == '\\' ? "/\\" : "/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace kv
