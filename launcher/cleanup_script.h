// The cleanup script: a batch file beside the work folder, in the run's
// temporary folder, that, run by the second stage with its process id as
// argument, waits for it (holdproc), deletes every unpacked file, removes
// every folder the run created (inner ones first, the work folder last)
// and finally deletes itself.
//
// Lines (CR LF, in the OEM code page that cmd reads batch files in):
//   cd <backslash>                    to the root, out of the folders it removes
//   "<work folder>holdproc" %1        unless holdproc.exe already exists
//   del "<unpacked file>"             one per entry, in unpacking order
//   rmdir "<created folder>"          one per created folder, newest first,
//                                     so the work folder's own is the last
//   del "<script>"                    the last line
// Paths stand in double quotation marks, so blanks, &, ^ and parentheses in
// them are plain characters to cmd, and every % in a path is written %% so
// cmd does not expand it. A path whose characters the OEM code page cannot
// hold exactly stands there in its short form, which names the same file.
//
// The script lies outside the work folder, so the work folder's rmdir
// works whether the interpreter rereads the script by its path before
// every line (Windows' cmd) or keeps it open while it runs (Wine's, whose
// del removes the running script all the same).
#pragma once

#include <string>

#include "launcher/ansi_path.h"
#include "launcher/folder_path.h"
#include "platform/scoped_handle.h"
#include "stream/file_stream.h"
#include "zkstring/zk_string.h"

namespace kv {

// The code pages the script's text passes through: the paths are in
// `ansi`, cmd reads the script in `oem`.
struct ScriptCodePages {
  unsigned ansi;
  unsigned oem;
};
ScriptCodePages SystemScriptCodePages();

class CleanupScript {
 public:
  // Takes over `file`, the script at `scriptPath` that the run has just
  // created, empty and open for writing, beside `workFolder` (which ends
  // in a backslash). Writes the opening lines: "cd \", then the holdproc
  // line unless a file or folder holdproc.exe already exists in
  // `workFolder`. `shortPath` gives the short form of a path.
  // Throws the file stream's exceptions when a write fails, and RunError
  // (kExitUnusablePath) for a path that the OEM code page cannot hold and
  // that has no short form.
  CleanupScript(ScopedKernelHandle file, const char* scriptPath, const char* workFolder,
                ScriptCodePages pages = SystemScriptCodePages(),
                std::wstring (*shortPath)(const std::wstring&) = SystemShortPath);

  // Appends the "del" line of one unpacked file. Lines are collected and
  // written in blocks of about 64 KiB (and the rest by Finish), so a write
  // failure may surface at a later line than the one that did not fit;
  // the file's bytes are the same.
  void AddUnpackedFile(const char* targetPath);

  // Appends one "rmdir" line per folder of `folders` (newest first), then
  // the script's own "del" line, writes what is collected and closes the
  // file. Throws the file stream's exceptions (code 8 when closing fails).
  void Finish(const CreatedFolderList& folders);

  // The text of `path` (ANSI) as it stands in a script line, in the OEM
  // code page with every % doubled: the path itself where `pages.oem`
  // holds it exactly, else its short form from `shortPath`. False when
  // neither names it.
  static bool ScriptPathText(const char* path, ScriptCodePages pages,
                             std::wstring (*shortPath)(const std::wstring&), std::string* text);

 private:
  // Adds `head`, the quoted script text of `path` and `tail` to what is to
  // be written; writes that once it passes the block size.
  void AddLine(const char* head, const char* path, const char* tail);
  // Writes what is collected.
  void Flush();

  std::string scriptPath_;
  ScriptCodePages pages_;
  std::wstring (*shortPath_)(const std::wstring&);
  std::string pending_;
  ScopedKernelHandle handle_;
  ZKFile file_;
};

}  // namespace kv
