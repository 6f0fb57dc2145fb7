// The launcher's exit codes, one per outcome. Never renumber or reuse one;
// README.md and the publishers' README (packaging/README.txt) list them for
// the people who ship the launcher, each row beginning with its comment's
// first clause (up to the first "(" or ";"), which a test compares.
#pragma once

namespace kv {

enum ExitCode : int {
  kExitSuccess = 0,            // the second stage was started, or an open setup window was
                               // brought forward
  kExitInsufficientSpace = 1,  // the temporary folder's drive has less than 10 MB free
  kExitNoFreeName = 2,         // no unused name for the script or the work folder
  kExitCannotCreate = 3,       // a file or folder of the run could not be created
  kExitCannotWrite = 4,        // a file could not be written (disk full, ...)
  kExitDamagedArchive = 5,     // an archive of the executable cannot be read
  kExitDamagedEntry = 6,       // an archive entry does not unpack to its recorded contents
  kExitPathTooLong = 7,        // a target path exceeds the platform's path limit
  kExitFileSystem = 8,         // another file-system error (read, seek, close)
  kExitOutOfMemory = 9,        // memory ran out
  kExitUnusablePath = 10,      // a name the run needs cannot be written in the system's code
                               // pages and has no short form (the temporary folder, the
                               // program's own folder, a payload file in the script)
  kExitUnprotectedTemp = 11,   // elevated, and neither the machine's temporary folder nor the
                               // Windows folder's TEMP can hold files that only SYSTEM and the
                               // administrators reach (a link, a network drive, a volume
                               // without access lists, a folder that others may rename or
                               // whose access they may change, a list that did not hold)
  kExitSecondStage = 12,       // StageRun.exe, unpacked by this run, could not be started (or
                               // the work folder could not be made the current directory)
  kExitCancelled = 13,         // the user cancelled before the second stage started; nothing of
                               // the run is left
  kExitSetupFileChanged = 14,  // the setup file is not the running program any more (renamed
                               // or replaced) or cannot be held for the second stage (another
                               // program has it open for writing); nothing was written
};

}  // namespace kv
