// The reference extractor: the six archives unpacked as fast as an
// extractor written for speed does it (bench/reference_unpack.h), then
// StageRun.exe started from the work folder, so the benchmark driver times
// it exactly like the launcher: from its own CreateProcess to the second
// stage's first instruction.
//
// What it leaves out, because the launcher's fixed cost covers it and the
// driver subtracts that separately: the splash, the free-space check and
// the cleanup script.
//
// Exit code: 0 when the second stage was started; 2 an archive is damaged;
// 3 a folder or file could not be made or written; 4 the second stage did
// not start.
#include "bench/reference_unpack.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  using namespace kv::bench;
  try {
    const std::string workFolder = MakeReferenceWorkFolder();
    UnpackArchivesFast(instance, workFolder);
    StartSecondStageFrom(workFolder, commandTail ? commandTail : "");
  } catch (const ReferenceFailure& failure) {
    return failure.exitCode;
  }
  return 0;
}
