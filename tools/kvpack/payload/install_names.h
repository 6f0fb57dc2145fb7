// The entry names of archives that unpack into one folder, checked
// together as Windows will see them there, so that the setup installs
// exactly the files the payload holds: no two of them become one file, no
// name reaches a device, and no name can be taken by the short (8.3) name
// Windows generates for another.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kv {

// One entry name and where it comes from.
struct InstallName {
  std::string name;     // ANSI entry name, backslash-separated, passed ValidateEntryName
  std::string where;    // for messages: the host file, or "<archive>: entry <name>"
  std::size_t archive;  // which archive holds it: the same name twice in one is a duplicate
};

// Checks `names`, which unpack into one folder in this order. Refused, with
// one line in *error naming the entry (and the other one, where two are
// involved):
// - a component that is a device for Windows beyond those ValidateEntryName
//   refuses (COM0, LPT0, CONIN$, CONOUT$, with any extension), or ends in a
//   dot or blank (Windows drops them, so the file would get another name);
// - two names of one archive that the file system takes for one file
//   (SameFileName); the same name in two archives is fine (the later one
//   replaces the file), but a file and a folder of one name are not;
// - a component of the form of a generated short name, NAME~N.EXT, when
//   another component of the same folder has no valid 8.3 name of its own
//   and could be given that short name (so that, depending on the order,
//   the second one fails to be created or lands in the first).
// Takes time in proportion to N log N. Throws only std::bad_alloc.
bool CheckInstallNames(const std::vector<InstallName>& names, std::string* error);

}  // namespace kv
