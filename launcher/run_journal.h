// What a run has written to the disk, so that a failed run can take it all
// back: every file it created (the cleanup script among them) and, in the
// caller's CreatedFolderList, every folder. Only what this run created is
// ever recorded, so a failed run removes nothing of anybody else's.
#pragma once

#include <string>
#include <vector>

#include "launcher/folder_path.h"
#include "launcher/pause_point.h"

namespace kv {

class RunJournal {
 public:
  // How long Undo keeps retrying removals that another process (a virus
  // scanner, typically) blocks for a moment, in milliseconds, in all.
  static constexpr unsigned long kRetryBudgetMs = 4000;

  // The file named next is being worked on (for messages about it).
  void WorkingOn(const std::string& path) { current_ = path; }

  // This run has created the file `targetPath` (an unpacked file or the
  // cleanup script), which is worked on now; each file is reported once.
  void FileCreated(const char* targetPath);

  // The file being worked on when the run failed.
  const std::string& CurrentFile() const { return current_; }

  // Removes every file created, then the folders of `folders` in list order
  // (newest first). A removal that fails because another
  // process holds the file or folder is retried for at most kRetryBudgetMs
  // in all. Returns the paths that could not be removed (empty when
  // nothing of the run is left). `pauses` (may be null) is paused at after
  // each removal and rested at between retries, so that the splash stays
  // serviced meanwhile.
  std::vector<std::string> Undo(const CreatedFolderList& folders, PausePoint* pauses = nullptr);

 private:
  std::vector<std::string> files_;  // in the order of creation
  std::string current_;
};

}  // namespace kv
