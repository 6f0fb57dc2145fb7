// The texts of the launcher's failure messages, in the four languages of
// the message table and chosen the same way. They stand beside the message
// table, whose rows 0 to 36 stay as they are.
#pragma once

#include "launcher/message_table.h"

namespace kv {

// One text per kind of failure, plus the line that names what could not
// be removed. Never renumber.
enum FailureTextId : int {
  kFailNoFreeName = 0,      // %s: the temporary folder
  kFailCannotCreate = 1,    // %s: the file; %s: the system's error text
  kFailCannotWrite = 2,     // %s: the file; %s: the system's error text
  kFailDamagedArchive = 3,  // %s: the archive's name; %s: what is wrong
  kFailDamagedEntry = 4,    // %s: the file; %s: what is wrong
  kFailPathTooLong = 5,     // %s: the path
  kFailFileSystem = 6,      // %s: the file; %s: the error
  kFailOutOfMemory = 7,     // no placeholder
  kFailLeftBehind = 8,      // %s: the paths that stayed, one per line
  kFailTempFolderName = 9,  // %s: the temporary folder (shown in full Unicode)
  kFailProgramName = 10,    // %s: the program's own path (shown in full Unicode)
  kFailUnprotectedTemp = 11,  // %s: the temporary folder
  kFailSecondStage = 12,      // %s: StageRun.exe's path; %s: the system's error text
  kFailScriptName = 13,       // %s: the path the cleanup script cannot name
  kFailSetupFileChanged = 14,  // %s: the program's own path (shown in full Unicode)
  kFailureTextCount = 15,
};

// The rows, indexed by FailureTextId; each row's id is its index.
extern const MsgTextRow kFailureTextTable[kFailureTextCount];

// The text in the user's language (as GetMsgText chooses it).
const char* GetFailureText(FailureTextId id);

}  // namespace kv
