#include "launcher/run_journal.h"

#include "platform/win32.h"

namespace kv {
namespace {

// Errors that another process's handle causes for a moment; worth a retry.
bool IsTransient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION || error == ERROR_DIR_NOT_EMPTY;
}

bool IsGone(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

class Remover {
 public:
  Remover(DWORD budgetMs, PausePoint* pauses)
      : deadline_(::GetTickCount() + budgetMs), pauses_(pauses) {}

  // Removes a file (`folder` false) or an empty folder; true when it is gone.
  bool Remove(const std::string& path, bool folder) {
    for (;;) {
      const BOOL removed =
          folder ? ::RemoveDirectoryA(path.c_str()) : ::DeleteFileA(path.c_str());
      const DWORD error = removed ? 0 : ::GetLastError();
      if (removed || IsGone(error)) {
        if (pauses_) pauses_->Pause();
        return true;
      }
      if (!IsTransient(error) || static_cast<LONG>(::GetTickCount() - deadline_) >= 0) return false;
      if (pauses_) {
        pauses_->Rest(50);
      } else {
        ::Sleep(50);
      }
    }
  }

 private:
  DWORD deadline_;
  PausePoint* pauses_;
};

}  // namespace

void RunJournal::FileCreated(const char* targetPath) {
  current_ = targetPath;
  files_.push_back(current_);
}

std::vector<std::string> RunJournal::Undo(const CreatedFolderList& folders, PausePoint* pauses) {
  std::vector<std::string> left;
  Remover remover(kRetryBudgetMs, pauses);
  for (const std::string& file : files_)
    if (!remover.Remove(file, false)) left.push_back(file);
  for (const ZkString& folder : folders)
    if (!remover.Remove(static_cast<const char*>(folder), true)) left.push_back(static_cast<const char*>(folder));
  return left;
}

}  // namespace kv
