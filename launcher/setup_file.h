// The setup file: the file this program's image was mapped from, which
// ResourceFile= names and from which the second stage, elevated, reads the
// archives the launcher leaves alone.
//
// It lies where the user started it, in a folder the user may change, and
// the system lets anyone who may change that folder rename a running
// program and put another file in its place. So before the run writes
// anything the launcher holds the file: it opens it for reading, sharing
// reading only (no writing, no deleting, so no renaming), checks through
// that handle that it is the very file the running image was mapped from
// (a path proves nothing), and hands the handle to StageRun.exe, and to
// nothing else, when it starts it. From the launch until the second stage
// ends, nobody can write, rename or delete the file, nor rename a folder
// above it (the system refuses to move a folder with open files below it),
// and the second stage can still read it.
#pragma once

#include <string>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace kv {

// How much of the file is mapped to compare it with the image: enough for
// the headers, small enough to fit any 32-bit address space beside a large
// image (a view of a whole large setup would not).
constexpr DWORD kSetupFileViewBytes = 65536;

class SetupFile {
 public:
  // Opens `path` (the program's own path, as the system reports it for
  // `image`) for reading, sharing reading only, with an inheritable handle,
  // and checks that a view of its first kSetupFileViewBytes and the image
  // at `image` are mapped from the same file (NtAreMappedFilesTheSame).
  // False, holding nothing, when the file cannot be opened so (another
  // program has it open for writing or deleting, or it is gone) or is not
  // the image's file (it was renamed away and another put in its place).
  bool Hold(HMODULE image, const std::wstring& path);

  // The held handle (inheritable), or null.
  HANDLE Handle() const { return handle_.Get(); }

  // The path that names the held file: its final path as the system
  // reports it through the handle (links and junctions, which could be
  // pointed elsewhere, resolved) where that begins with a drive letter;
  // otherwise (a network path) the path it was opened by.
  const std::wstring& Path() const { return path_; }

  // Lets go of the file (once the second stage holds its own copy of the
  // handle, or when the run ends without one).
  void Release() { handle_.Reset(); }

 private:
  ScopedKernelHandle handle_;
  std::wstring path_;
};

// True when the first kSetupFileViewBytes of the file open as `file` (with
// read access) are mapped from the same file as the image at `image`.
// False when the comparison cannot be made (NtAreMappedFilesTheSame is
// missing, the file is empty or cannot be mapped).
bool IsImageFile(HMODULE image, HANDLE file);

}  // namespace kv
