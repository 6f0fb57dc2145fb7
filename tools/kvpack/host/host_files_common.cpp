#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/kvpack/host/host_files.h"

namespace kv {

bool WriteFileIfChanged(const std::string& path, const std::vector<std::uint8_t>& bytes,
                        std::string* error) {
  std::vector<std::uint8_t> old;
  std::string ignored;
  if (ReadWholeFile(path, &old, &ignored) && old == bytes) return true;
  return WriteWholeFile(path, bytes, error);
}

namespace {
constexpr std::size_t kOutputBuffer = 1 << 20;
}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(const std::string& path, std::string* error) {
  Discard();
  path_ = path;
  flushed_ = size_ = 0;
  buffer_.clear();
  buffer_.reserve(kOutputBuffer);
  return OpenNew(error);
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
  if (handle_ == -1) {
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
