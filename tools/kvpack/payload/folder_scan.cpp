#include "tools/kvpack/payload/folder_scan.h"

#include <algorithm>
#include <map>

#include "archive/name_case.h"
#include "tools/kvpack/payload/ansi_names.h"
#include "tools/kvpack/host/host_files.h"

namespace kv {

namespace {

std::uint32_t ClampTime(std::int64_t seconds, std::optional<std::int64_t> clampTo) {
  if (clampTo && seconds > *clampTo) seconds = *clampTo;
  if (seconds < 0) return 0;
  if (seconds > 0xFFFFFFFFll) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(seconds);
}

class Scanner {
 public:
  Scanner(std::optional<std::int64_t> clampTo, std::vector<FileToPack>* files, std::string* error)
      : clampTo_(clampTo), files_(files), error_(error) {}

  // path: host path of the folder; prefix: its entry-name prefix ("" or
  // ending in a backslash).
  bool Walk(const std::string& path, const std::string& prefix) {
    std::vector<FolderItem> items;
    if (!ListFolder(path, &items, error_)) return false;
    if (items.empty() && !prefix.empty()) {
      return Fail(path, "empty folder: an archive holds files only, so it would not be unpacked");
    }
    // The same order on every system: by host name, byte by byte.
    std::sort(items.begin(), items.end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    for (const FolderItem& item : items) {
      const std::string child = path + PathSeparator() + item.name;
      std::string ansi;
      if (!item.validName || !Utf8ToAnsi(item.name, &ansi)) {
        return Fail(child, "name is not UTF-8 or holds a character Windows-1252 lacks");
      }
      if (ansi.find('\\') != std::string::npos) {
        return Fail(child, "name holds a backslash, which Windows takes for a folder separator");
      }
      if (!ansi.empty() && (ansi.back() == '.' || ansi.back() == ' ') && ansi != "." &&
          ansi != "..") {
        return Fail(child, "name ends in a dot or blank, which Windows drops from names");
      }
      if (item.kind == ItemKind::kFolder) {
        if (!Claim(child, prefix + ansi)) return false;
        if (!Walk(child, prefix + ansi + "\\")) return false;
      } else if (item.kind == ItemKind::kFile) {
        if (!AddFile(child, prefix + ansi, item)) return false;
      } else if (item.kind == ItemKind::kLink) {
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
  // differ in case only (Ä and ä too) would land in one file or folder there.
  bool Claim(const std::string& path, const std::string& entryName) {
    const auto inserted = claimed_.emplace(FoldNameCase(entryName), path);
    if (!inserted.second) {
      return Fail(path, "same name as " + inserted.first->second +
                            " for Windows, which ignores case");
    }
    return true;
  }

  bool AddFile(const std::string& path, const std::string& entryName, const FolderItem& item) {
    const NameFault fault = ValidateEntryName(entryName);
    if (fault != NameFault::kNone) return Fail(path, std::string("entry name ") + NameFaultText(fault));
    if (entryName.size() > kMaxUnpackableName) {
      return Fail(path, "entry name of " + std::to_string(entryName.size()) +
                            " bytes: the launcher's target paths take at most " +
                            std::to_string(kMaxTargetPath) +
                            " characters, so even in the shortest work folder it takes at most " +
                            std::to_string(kMaxUnpackableName));
    }
    if (item.size > 0xFFFFFFFFull) {
      return Fail(path, "file of " + std::to_string(item.size) +
                            " bytes: an archive holds files below 4 GiB only");
    }
    if (!Claim(path, entryName)) return false;
    FileToPack file;
    file.name = entryName;
    file.hostPath = path;
    file.size = item.size;
    file.identity = item.identity;
    const std::uint32_t written = ClampTime(item.mtime, clampTo_);
    file.times = {written, written, written};
    files_->push_back(std::move(file));
    return true;
  }

  std::optional<std::int64_t> clampTo_;
  std::vector<FileToPack>* files_;
  std::string* error_;
  std::map<std::string, std::string> claimed_;  // folded entry name -> host path
};

}  // namespace

bool ScanFolder(const std::string& folder, std::optional<std::int64_t> clampTo,
                std::vector<FileToPack>* files, std::string* error) {
  files->clear();
  FolderItem self;
  if (!StatPath(folder, &self, error)) return false;
  if (self.kind != ItemKind::kFolder) {
    *error = folder + ": not a folder";
    return false;
  }
  Scanner scanner(clampTo, files, error);
  if (!scanner.Walk(folder, "")) return false;
  if (files->empty()) {
    *error = folder + ": holds no file to pack";
    return false;
  }
  std::sort(files->begin(), files->end(),
            [](const FileToPack& a, const FileToPack& b) { return a.name < b.name; });
  return true;
}

}  // namespace kv
