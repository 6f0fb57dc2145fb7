// The cleanup script: a batch file in the temporary folder that, run by the
// second stage with its process id as argument, waits for it (holdproc),
// deletes every unpacked file, removes every created folder (inner ones
// first) and finally itself.
//
// Lines (CR LF, in the OEM code page that cmd reads batch files in):
//   cd <backslash>                    to the root, out of the folders it removes
//   "<work folder>holdproc" %1        unless holdproc.exe already exists
//   del "<unpacked file>"             one per entry, in unpacking order
//   rmdir "<created folder>"          one per created folder, newest first
//   del "<the script itself>"
// Paths stand in double quotation marks, so blanks, & and ^ in them are
// plain characters to cmd, and every % in a path is written %% so cmd does
// not expand it.
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
  // Throws ZkStreamException* (code 7 with the path) when it cannot be
  // created, and the file stream's exceptions when a write fails.
  CleanupScript(const char* scriptPath, const char* workFolder);

  // Appends the "del" line of one unpacked file.
  void AddUnpackedFile(const char* targetPath);

  // Appends one "rmdir" line per created folder, in list order (newest
  // first), then the line that deletes the script, and closes the file.
  // Throws the file stream's exceptions (code 8 when closing fails).
  void Finish(const CreatedFolderList& folders);

  // The text of `path` as it stands in a script line: every % doubled.
  static ZkString BatchText(const char* path);

 private:
  // Converts the line to the OEM code page and writes it.
  void WriteLine();

  ZkString scriptPath_;
  ZkString line_;
  std::unique_ptr<ZKFile> file_;
};

}  // namespace kv
