// The cleanup script: a batch file in the temporary folder that, run by the
// second stage, waits for it (holdproc), deletes every unpacked file,
// removes every created folder (inner ones first) and finally itself.
#pragma once

#include <memory>

#include "launcher/folder_path.h"
#include "stream/file_stream.h"
#include "zkstring/zk_string.h"

namespace kv {

class CleanupScript {
 public:
  // Creates the script at `scriptPath` (a new file, or an existing one
  // truncated; no sharing) and writes its opening lines: "cd \", then the
  // holdproc line unless a file or folder holdproc.exe already exists in
  // `workFolder` (which ends in a backslash).
  // Throws ZkStreamException* (code 7 with the path) when it cannot be created.
  CleanupScript(const char* scriptPath, const char* workFolder);

  // Appends the "del" line of one unpacked file.
  void AddUnpackedFile(const char* targetPath);

  // Appends one "rmdir" line per created folder, in list order (newest
  // first), then the line that deletes the script, and closes the file.
  void Finish(const CreatedFolderList& folders);

 private:
  void WriteLine();

  ZkString scriptPath_;
  ZkString line_;
  std::unique_ptr<ZKFile> file_;
};

}  // namespace kv
