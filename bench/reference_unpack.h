// The benchmark's yardstick: the unpacking of the launcher's six archives as
// an extractor written for speed does it, shared by the reference extractor
// and the splash baseline.
//
// It carries its archives the way a setup executable does (the program is
// linked with the same generated payload.rc, so the same resources sit in
// its image under the same names), finds them with FindResourceA and
// LockResource, and unpacks every entry of BASE, SETUPBASE, SETUPPHOTO,
// PHOTOEDITION, KVIMAGE and KVVERSION in the launcher's order: each folder
// is created once, with CreateDirectoryA, the first time an entry needs it;
// zlib inflates the entry's whole compressed range straight from the
// mapped resource into one 1 MiB buffer kept for the run; the file is
// written with one WriteFile call per full MiB (most files take one).
#pragma once

#include <string>

#include "platform/win32.h"

namespace kv::bench {

// Exit codes of the programs built on this.
constexpr int kReferenceExitDamaged = 2;     // an archive does not unpack
constexpr int kReferenceExitFileSystem = 3;  // a folder or file could not be made or written
constexpr int kReferenceExitLaunch = 4;      // the second stage did not start

// What the functions below throw; `exitCode` is one of the codes above.
struct ReferenceFailure {
  int exitCode;
};

// Creates a new folder "KVRef<n>" below the temporary folder and returns its
// path, ending in a backslash.
std::string MakeReferenceWorkFolder();

// Unpacks the six archives of `module` into `workFolder` (which exists and
// ends in a backslash). A later archive's entry replaces an earlier one of
// the same name, as in the launcher.
void UnpackArchivesFast(HMODULE module, const std::string& workFolder);

// Makes `workFolder` the current directory and starts StageRun.exe there as
// the launcher does: ShellExecuteExA, verb "open", the launcher's parameter
// form with this program as ResourceFile= and an empty CleanUp=, then
// `commandTail`. Returns once the system has been asked.
void StartSecondStageFrom(const std::string& workFolder, const char* commandTail);

}  // namespace kv::bench
