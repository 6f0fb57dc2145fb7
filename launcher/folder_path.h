// Creating the folders of a path and recording the ones that were created.
#pragma once

#include <list>

#include "zkstring/zk_string.h"

namespace kv {

// Full paths (drive letter, no trailing backslash) of the folders the
// launcher created, newest first: insertion happens only at the front, so
// every folder stands before its parent and later folders before earlier
// ones. The cleanup script removes them in this order.
using CreatedFolderList = std::list<ZkString>;

// Makes sure every folder of `path` (a folder path without trailing
// backslash) exists. Each folder it created is recorded at the front
// of `list` (when not null) with its full path as the platform reports it,
// whatever its length. Returns 0 when the whole path exists afterwards, 1
// when a colon stands elsewhere than second, the drive or its root cannot
// be entered, a component can be neither entered nor created, or the
// system cannot report the current directory (a folder created just before
// is then removed again, not recorded). Folders
// created before a failure stay on disk and in the list. The caller's
// current drive and directory are the same afterwards, on every path out.
int CreateFolderPath(const char* path, CreatedFolderList* list);

// Makes the drive of `path` current: 0 when the path has no colon or its
// drive became current, 1 when its colon is not the second character or
// the drive cannot be entered.
int SwitchToPathDrive(const char* path);

// Enters (creating where needed) each backslash-separated component of
// `rest` relative to the current directory, recording created folders.
// Returns 0 or 1 as CreateFolderPath. Leaves the current directory inside
// the last component entered.
int CreateFolderComponents(const char* rest, CreatedFolderList* list);

// For tests: CreateFolderPath and CreateFolderComponents read the current
// directory with `reader` (the C runtime's getcwd form) instead of the C
// runtime's; null restores it. The system fails to report it only in rare
// states (a current directory too long for it, for one) that a test cannot
// bring about.
void SetCurrentDirectoryReaderForTesting(char* (*reader)(char*, int));

}  // namespace kv
