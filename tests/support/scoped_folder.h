// A fresh folder for one test, removed with everything in it at the end.
#pragma once

#include <string>

namespace kv::test {

class ScopedFolder {
 public:
  // Creates a new, empty folder below `parent` (which must end in a
  // backslash), or below the process's temporary folder when `parent` is
  // empty.
  explicit ScopedFolder(const std::string& parent = std::string());
  ~ScopedFolder();
  ScopedFolder(const ScopedFolder&) = delete;
  ScopedFolder& operator=(const ScopedFolder&) = delete;

  // The folder's path, ending in a backslash.
  const std::string& path() const { return path_; }

  // Removes the folder and everything in it; true when nothing is left. A
  // file still held open by someone makes this false, which is how a test
  // finds a leaked handle.
  bool Remove();

 private:
  std::string path_;
  bool removed_ = false;
};

// Removes `path` (a file, or a folder with everything in it); true when it
// is gone afterwards.
bool RemoveTree(const std::string& path);

// The names (relative, backslash-separated, sorted) of everything below
// `folder` (ending in a backslash), folders included.
std::string ListTree(const std::string& folder);

// Waits up to `timeoutMs` for `path` not to exist. It looks at that one
// name only: a search handle on a folder would keep another process from
// removing the folder meanwhile.
bool WaitUntilGone(const std::string& path, unsigned long timeoutMs);

// Waits for a run's cleanup script (0.bat beside the work folder KVGSetup0
// in the temporary folder `temp`, which ends in a backslash) to finish,
// that is to remove the work folder and then itself, its last line; true
// when it did within 20 s and `temp` is empty afterwards.
bool CleanupFinished(const std::string& temp);

// Reads a whole file; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string* contents);

// Writes a whole file; false on failure.
bool WriteWholeFile(const std::string& path, const std::string& contents);

}  // namespace kv::test
