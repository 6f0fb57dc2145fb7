// One timed start of a setup-like program: how long from its CreateProcess
// to the first instruction of the second stage it starts, and how much
// memory it used on the way.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace kv::bench {

struct TimedRun {
  bool ok = false;
  std::string error;  // why the run does not count, when !ok

  // From just before CreateProcess to StageRun's StartCounter, on the
  // performance counter that every process of the machine shares.
  double msToSecondStage = 0;
  DWORD exitCode = 0;

  // The program's peaks (not the second stage's): the largest values seen
  // while it ran and, where the system still answers, after it ended.
  std::uint64_t peakWorkingSet = 0;
  std::uint64_t peakPagefileUsage = 0;

  // What the second stage found: its current directory (the work folder)
  // and the files below it, counted before the folder was removed.
  std::string workFolder;
  std::uint64_t filesFound = 0;
  std::uint64_t bytesFound = 0;
};

// Runs `program` with TMP and TEMP, its own and the machine's, set to
// `tempFolder` (which must exist and end in a backslash; the machine's old
// values are restored after the run), KV_STAGERUN_RECORD set to `recordPath` and
// KV_STAGERUN_NO_CLEANUP=1. Waits until the record exists, the program has
// ended and every StageRun.exe process has ended, at most `timeoutMs`
// (a program still running then is terminated and the run fails). Reads
// StartCounter from the record's first line and counts the work folder's
// files. Removes nothing.
TimedRun RunTimed(const std::string& program, const std::string& tempFolder,
                  const std::string& recordPath, DWORD timeoutMs);

// Counts the files below `folder` and adds up their sizes.
void CountTree(const std::string& folder, std::uint64_t* files, std::uint64_t* bytes);

}  // namespace kv::bench
