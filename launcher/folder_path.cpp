#include "launcher/folder_path.h"

#include <direct.h>
#include <io.h>

#include <cstdlib>
#include <cstring>

namespace kv {
namespace {

// A component is taken from at most this many characters of the rest.
constexpr size_t kComponentLimit = 256;

char* (*readCurrentDirectory)(char*, int) = _getcwd;

// The drive number of the current directory (1 for A), or 0 when it does
// not begin with a letter and a colon.
int CurrentDriveNumber() { return _getdrive(); }

// The full current directory, whatever its length; false when the system
// cannot report it.
bool CurrentDirectory(ZkString* directory) {
  char* text = readCurrentDirectory(nullptr, 0);
  if (text == nullptr || *text == '\0') {
    std::free(text);
    return false;
  }
  *directory = text;
  std::free(text);
  return true;
}

}  // namespace

void SetCurrentDirectoryReaderForTesting(char* (*reader)(char*, int)) {
  readCurrentDirectory = reader ? reader : _getcwd;
}

int SwitchToPathDrive(const char* path) {
  const char* colon = std::strchr(path, ':');
  if (!colon) return 0;
  if (colon != path + 1) return 1;
  const int drive = (path[0] - 64) & ~32;
  return _chdrive(drive) == 0 ? 0 : 1;
}

int CreateFolderComponents(const char* rest, CreatedFolderList* list) {
  char component[kComponentLimit + 1];
  std::strncpy(component, rest, kComponentLimit);
  component[kComponentLimit] = '\0';
  if (char* cut = std::strchr(component, '\\')) *cut = '\0';

  if (_chdir(component) != 0) {
    // Only a folder this call made is recorded: one that another process
    // made in the meantime is entered, and left to its maker.
    const bool made = _mkdir(component) == 0;
    if (_chdir(component) != 0) return 1;
    if (made) {
      // Recorded with its full path even beyond 255 characters, so that the
      // cleanup script removes it. A folder whose path cannot be read back
      // could be neither named in the script nor removed after a failure:
      // it is taken back at once, and the path counts as not created.
      ZkString created;
      if (!CurrentDirectory(&created)) {
        _chdir("..");
        _rmdir(component);
        return 1;
      }
      if (list) list->push_front(created);
    }
  }
  const char* next = std::strchr(rest, '\\');
  return next ? CreateFolderComponents(next + 1, list) : 0;
}

int CreateFolderPath(const char* path, CreatedFolderList* list) {
  if (_access(path, 0) == 0) return 0;

  const int savedDrive = CurrentDriveNumber();
  // The caller's full current directory, too: going back to a drive by its
  // letter alone finds its former directory only where the runtime keeps
  // one per drive, which not every runtime does.
  char* callerDirectory = readCurrentDirectory(nullptr, 0);
  // Without it the caller's place could not be given back: fail before
  // anything moves.
  if (callerDirectory == nullptr) return 1;
  int result = SwitchToPathDrive(path);
  char* savedDirectory = readCurrentDirectory(nullptr, 0);
  if (savedDirectory == nullptr) result = 1;

  if (result == 0) {
    const char* rest = path;
    if (std::strchr(rest, ':')) rest += 2;
    if (*rest == '\\' && _chdir("\\") != 0) result = 1;
    if (*rest == '\\') ++rest;
    if (result == 0) result = CreateFolderComponents(rest, list);
  }

  if (savedDirectory) {
    _chdir(savedDirectory);
    std::free(savedDirectory);
  }
  if (savedDrive != 0) _chdrive(savedDrive);
  _chdir(callerDirectory);
  std::free(callerDirectory);
  return result;
}

}  // namespace kv
