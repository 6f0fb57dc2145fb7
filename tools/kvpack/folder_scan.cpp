#include "tools/kvpack/folder_scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <map>

#include "tools/kvpack/ansi_names.h"

namespace kv {

namespace {

std::uint32_t ClampTime(std::int64_t seconds, std::optional<std::int64_t> clampTo) {
  if (clampTo && seconds > *clampTo) seconds = *clampTo;
  if (seconds < 0) return 0;
  if (seconds > 0xFFFFFFFFll) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(seconds);
}

std::string Upper(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

class Scanner {
 public:
  Scanner(std::optional<std::int64_t> clampTo, std::vector<PackEntry>* entries,
          std::string* error)
      : clampTo_(clampTo), entries_(entries), error_(error) {}

  // path: host path of the folder; prefix: its entry-name prefix ("" or
  // ending in a backslash).
  bool Walk(const std::string& path, const std::string& prefix) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return Fail(path, std::string("cannot open folder: ") + std::strerror(errno));
    std::vector<std::string> names;
    errno = 0;
    while (dirent* d = readdir(dir)) {
      if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) {
        names.push_back(d->d_name);
      }
    }
    const int readErrno = errno;
    closedir(dir);
    if (readErrno != 0) return Fail(path, std::string("cannot read folder: ") + std::strerror(readErrno));
    if (names.empty() && !prefix.empty()) {
      return Fail(path, "empty folder: an archive holds files only, so it would not be unpacked");
    }
    for (const std::string& name : names) {
      const std::string child = path + "/" + name;
      std::string ansi;
      if (!Utf8ToAnsi(name, &ansi)) {
        return Fail(child, "name is not UTF-8 or holds a character Windows-1252 lacks");
      }
      struct stat st;
      if (lstat(child.c_str(), &st) != 0) return Fail(child, std::strerror(errno));
      if (S_ISDIR(st.st_mode)) {
        if (!Claim(child, prefix + ansi)) return false;
        if (!Walk(child, prefix + ansi + "\\")) return false;
      } else if (S_ISREG(st.st_mode)) {
        if (!AddFile(child, prefix + ansi, st)) return false;
      } else if (S_ISLNK(st.st_mode)) {
        return Fail(child, "symbolic link: kvpack packs regular files only");
      } else {
        return Fail(child, "not a regular file (device, pipe or socket)");
      }
    }
    return true;
  }

 private:
  bool Fail(const std::string& path, const std::string& why) {
    *error_ = path + ": " + why;
    return false;
  }

  // Windows compares names without regard to case: two host names that
  // differ in case only would land in one file or folder there.
  bool Claim(const std::string& path, const std::string& entryName) {
    const auto inserted = claimed_.emplace(Upper(entryName), path);
    if (!inserted.second) {
      return Fail(path, "same name as " + inserted.first->second +
                            " for Windows, which ignores case");
    }
    return true;
  }

  bool AddFile(const std::string& path, const std::string& entryName, const struct stat& st) {
    const NameFault fault = ValidateEntryName(entryName);
    if (fault != NameFault::kNone) return Fail(path, std::string("entry name ") + NameFaultText(fault));
    if (!Claim(path, entryName)) return false;
    PackEntry entry;
    entry.name = entryName;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return Fail(path, std::string("cannot open: ") + std::strerror(errno));
    entry.bytes.resize(static_cast<std::size_t>(st.st_size));
    const std::size_t got = std::fread(entry.bytes.data(), 1, entry.bytes.size(), in);
    const bool more = std::fgetc(in) != EOF;
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed || got != entry.bytes.size() || more) {
      return Fail(path, "cannot read it whole (read error, or it changed while being packed)");
    }
    const std::uint32_t written = ClampTime(st.st_mtim.tv_sec, clampTo_);
    entry.times = {written, written, written};
    entries_->push_back(std::move(entry));
    return true;
  }

  std::optional<std::int64_t> clampTo_;
  std::vector<PackEntry>* entries_;
  std::string* error_;
  std::map<std::string, std::string> claimed_;  // upper-case entry name -> host path
};

}  // namespace

bool ScanFolder(const std::string& folder, std::optional<std::int64_t> clampTo,
                std::vector<PackEntry>* entries, std::string* error) {
  entries->clear();
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) {
    *error = folder + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = folder + ": not a folder";
    return false;
  }
  Scanner scanner(clampTo, entries, error);
  if (!scanner.Walk(folder, "")) return false;
  if (entries->empty()) {
    *error = folder + ": holds no file to pack";
    return false;
  }
  std::sort(entries->begin(), entries->end(),
            [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
  return true;
}

}  // namespace kv
