// The cleanup script: a batch file in the work folder that, run by the
// second stage with its process id as argument, waits for it (holdproc),
// deletes every unpacked file, removes every folder created below the work
// folder (inner ones first) and finally itself and the work folder.
//
// Lines (CR LF, in the OEM code page that cmd reads batch files in):
//   cd <backslash>                    to the root, out of the folders it removes
//   "<work folder>holdproc" %1        unless holdproc.exe already exists
//   del "<unpacked file>"             one per entry, in unpacking order
//   rmdir "<created folder>"          one per folder created below the work
//                                     folder, newest first
//   (if exist "<outside>" (del "<script>" & rmdir "<work folder>") else
//    (move "<script>" "<outside>" >nul & rmdir "<work folder>" &
//     del "<outside>")) & exit /b     (one line)
// Paths stand in double quotation marks, so blanks, &, ^ and parentheses in
// them are plain characters to cmd, and every % in a path is written %% so
// cmd does not expand it.
//
// The last line removes the script and the folder that holds it. Windows'
// cmd rereads a batch file by its path before every line, so there a plain
// del and rmdir would do; other command interpreters keep the file open
// while it runs, and the folder cannot go while the file is in it. The
// script therefore first moves itself out, to `<outside>` (the temporary
// folder followed by its own name, which nothing used when the run chose
// it), when that name is still free, and never onto or into anything that
// holds the name by now. "exit /b" ends the script on the same line, so no
// interpreter ever reads on from a path where the script no longer is.
#pragma once

#include <memory>
#include <string>

#include "launcher/folder_path.h"
#include "stream/file_stream.h"
#include "zkstring/zk_string.h"

namespace kv {

class CleanupScript {
 public:
  // Creates the script at `scriptPath`, a new file in `workFolder` (which
  // ends in a backslash): an existing file of that name is not opened. No
  // sharing. Writes the opening lines: "cd \", then the holdproc line
  // unless a file or folder holdproc.exe already exists in `workFolder`.
  // `outsidePath` is where the last line moves the script before it
  // removes the work folder.
  // Throws ZkStreamException* (code 7 with the path) when it cannot be
  // created, and the file stream's exceptions when a write fails.
  CleanupScript(const char* scriptPath, const char* workFolder, const char* outsidePath);

  // Appends the "del" line of one unpacked file. Lines are collected and
  // written in blocks of about 64 KiB (and the rest by Finish), so a write
  // failure may surface at a later line than the one that did not fit;
  // the file's bytes are the same.
  void AddUnpackedFile(const char* targetPath);

  // Appends one "rmdir" line per folder of `folders` (newest first) other
  // than the work folder itself, then the last line, writes what is
  // collected and closes the file.
  // Throws the file stream's exceptions (code 8 when closing fails).
  void Finish(const CreatedFolderList& folders);

  // The text of `path` as it stands in a script line: every % doubled.
  static ZkString BatchText(const char* path);

 private:
  // Converts the line to the OEM code page and adds it to what is to be
  // written; writes that once it passes the block size.
  void WriteLine();
  // Writes what is collected.
  void Flush();

  ZkString scriptPath_;
  ZkString workFolder_;
  ZkString outsidePath_;
  ZkString line_;
  std::string pending_;
  std::unique_ptr<ZKFile> file_;
};

}  // namespace kv
