// big_run <setup.exe> <temporary folder\>: runs a setup executable once, as
// the unpacking benchmark runs it (its own temporary folder, the second
// stage's record beside it, the cleanup left out), and prints the time to
// the second stage, the launcher's peaks, what the work folder held against
// what the archives describe, and the archives the second stage read from
// the executable. Removes the work folder and the record. Exit code 0 when
// the run unpacked everything and the second stage read its archives.
#include <cstdio>
#include <string>

#include "bench/archive_facts.h"
#include "bench/timed_run.h"
#include "tests/support/scoped_folder.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: big_run <setup.exe> <temporary folder\\>\n");
    return 2;
  }
  const std::string setup = argv[1];
  const std::string temp = argv[2];
  const kv::bench::ArchiveFacts facts = kv::bench::ReadArchiveFacts(setup);
  if (!facts.ok) {
    std::fprintf(stderr, "big_run: %s: %s\n", setup.c_str(), facts.error.c_str());
    return 1;
  }
  const std::string record = temp.substr(0, temp.size() - 1) + "-record.txt";
  const kv::bench::TimedRun run = kv::bench::RunTimed(setup, temp, record, 600000);
  std::string text;
  kv::test::ReadWholeFile(record, &text);
  if (!run.workFolder.empty()) kv::test::RemoveTree(run.workFolder);
  ::DeleteFileA(record.c_str());
  if (!run.ok) {
    std::fprintf(stderr, "big_run: %s: %s\n", setup.c_str(), run.error.c_str());
    return 1;
  }
  std::printf("launcher: exit %lu, %.0f ms to the second stage, peak working set %.1f MiB, "
              "peak private %.1f MiB\n",
              run.exitCode, run.msToSecondStage, run.peakWorkingSet / 1048576.0,
              run.peakPagefileUsage / 1048576.0);
  std::printf("work folder: %llu files, %llu bytes (the archives describe %llu files, %llu "
              "bytes)\n",
              static_cast<unsigned long long>(run.filesFound),
              static_cast<unsigned long long>(run.bytesFound),
              static_cast<unsigned long long>(facts.files),
              static_cast<unsigned long long>(facts.bytes));
  bool read = false;
  for (std::size_t at = 0; (at = text.find("Archive=", at)) != std::string::npos; ++at) {
    const std::size_t end = text.find('\r', at);
    std::printf("second stage: %s\n", text.substr(at, end - at).c_str());
    read |= text.compare(at, 16, "Archive=APPBASE:") == 0;
  }
  const bool complete = run.filesFound == facts.files && run.bytesFound == facts.bytes;
  return complete && read ? 0 : 1;
}
