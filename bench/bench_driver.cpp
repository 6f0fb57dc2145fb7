// bench_driver [rounds] [production] [small] [fixed] [noref] [old=<folder>]
//
// Times the launcher's unpacking against a reference extractor written for
// speed, on two payload shapes, and the launcher's fixed cost against a
// program that does no more than show the same splash and start the second
// stage the same way. Programs from the driver's own folder:
//   BenchSetup.exe             the launcher, production-shaped payload
//   BenchSmallSetup.exe        the launcher, small-files payload
//   BenchFixedSetup.exe        the launcher with StageRun.exe alone: its
//                              fixed cost (splash, checks, script, launch)
//   bench_reference.exe        the reference, production-shaped payload
//   bench_reference_small.exe  the reference, small-files payload
//   bench_reference_fixed.exe  the reference with StageRun.exe alone
//   bench_splash_baseline.exe  the splash and the launch alone, StageRun.exe
// They run in pairs: a program with a payload right next to the same
// program with StageRun.exe alone (and the StageRun-only launcher next to
// the splash baseline), so a pair's difference sees the same load; the
// order of the pairs and within them changes from round to round. The
// words after the rounds pick the comparisons (default: all three).
// `rounds` counted rounds (default 7) follow one warm-up round.
//
// old=<folder> adds an older launcher as one more contender: the
// BenchSetup.exe, BenchSmallSetup.exe and BenchFixedSetup.exe of that
// folder (another checkout's build), paired the same way, and prints for
// each shape its net unpacking time against the launcher's, per round of
// pairs. noref leaves the reference extractor out (the shapes' reference
// pairs; the fixed cost's baseline stays).
//
// Every run gets a fresh temporary folder (TMP, TEMP), is timed from its
// CreateProcess to the second stage's own start stamp, must leave exactly
// the files its archives hold, and its folder is removed afterwards.
//
// Prints per program the times (median, min, max) and memory peaks; per
// shape the net unpacking time of the launcher and of the reference (with
// the payload less with StageRun alone: from medians, from minimums and per
// pair), their ratio against the shape's goal (judged on the medians), the
// cost per file and per MB, and the launcher's peak memory against the
// archive resources it maps plus 2 MiB; and the launcher's fixed cost less
// the baseline's against the goal of 10 ms. Exit code 0 when every run
// counted, 1 when a run failed, 2 for a bad argument.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/archive_facts.h"
#include "bench/timed_run.h"
#include "platform/win32.h"
#include "tests/support/scoped_folder.h"

namespace {

using kv::bench::ArchiveFacts;
using kv::bench::TimedRun;

constexpr int kDefaultRounds = 7;
constexpr int kWarmUpRounds = 1;
constexpr DWORD kRunTimeoutMs = 120000;
// The launcher's allowance beyond the archive resources it maps.
constexpr double kMemoryAllowance = 2.0 * 1024 * 1024;
// The goals for the launcher's net unpacking time against the reference's:
// past zlib on large entries, at the file system's floor on small files.
constexpr double kGoalRatioProduction = 0.75;
constexpr double kGoalRatioSmallFiles = 1.0;
// The goal for the launcher's fixed cost above the splash baseline's.
constexpr double kGoalFixedMs = 10.0;

enum ProgramId {
  kLauncherProduction,
  kLauncherSmall,
  kLauncherFixed,
  kReferenceProduction,
  kReferenceSmall,
  kReferenceFixed,
  kBaseline,
  kOldProduction,
  kOldSmall,
  kOldFixed,
  kProgramCount
};

struct Program {
  const char* label;
  const char* file;
  std::string path;
  ArchiveFacts facts;
  std::vector<TimedRun> runs;  // every counted run, whichever pair it was in
};

// Two programs run back to back; `first` is the one with the payload (or,
// for the fixed cost, the launcher).
struct Pair {
  ProgramId first;
  ProgramId second;
  std::vector<double> firstMs, secondMs;  // one of each per counted round
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Min(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

double Max(const std::vector<double>& values) {
  return *std::max_element(values.begin(), values.end());
}

std::vector<double> Times(const Program& p) {
  std::vector<double> t;
  for (const TimedRun& run : p.runs) t.push_back(run.msToSecondStage);
  return t;
}

double MedianPeakWorkingSet(const Program& p) {
  std::vector<double> t;
  for (const TimedRun& run : p.runs) t.push_back(static_cast<double>(run.peakWorkingSet));
  return Median(t);
}

double MedianPeakPrivate(const Program& p) {
  std::vector<double> t;
  for (const TimedRun& run : p.runs) t.push_back(static_cast<double>(run.peakPagefileUsage));
  return Median(t);
}

double MiB(double bytes) { return bytes / (1024.0 * 1024.0); }

// Net figures of one pair: first less second.
struct Net {
  double medians, minimums, pairs;
};

Net NetOf(const Pair& pair) {
  std::vector<double> d;
  for (size_t i = 0; i < pair.firstMs.size(); ++i) d.push_back(pair.firstMs[i] - pair.secondMs[i]);
  return {Median(pair.firstMs) - Median(pair.secondMs), Min(pair.firstMs) - Min(pair.secondMs),
          Median(d)};
}

std::string ProgramFolder() {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, n);
  return folder.substr(0, folder.rfind('\\') + 1);
}

std::string TempFolder() {
  char temp[MAX_PATH];
  ::GetTempPathA(sizeof temp, temp);
  return temp;
}

// One run of `p` in a fresh folder below `base`, its time in *ms; false
// when it failed. Counted runs are kept in p->runs.
bool RunOnce(Program* p, const std::string& base, const std::string& tag, bool counted,
             double* ms) {
  const std::string temp = base + tag + "\\";
  const std::string record = base + tag + "-record.txt";
  if (!::CreateDirectoryA(temp.c_str(), nullptr)) {
    std::printf("cannot create %s\n", temp.c_str());
    return false;
  }
  TimedRun run = kv::bench::RunTimed(p->path, temp, record, kRunTimeoutMs);
  if (run.ok && (run.filesFound != p->facts.files || run.bytesFound != p->facts.bytes)) {
    run.ok = false;
    run.error = "the work folder holds " + std::to_string(run.filesFound) + " files of " +
                std::to_string(run.bytesFound) + " bytes, not " +
                std::to_string(p->facts.files) + " of " + std::to_string(p->facts.bytes);
  }
  const bool removed = kv::test::RemoveTree(temp) && kv::test::RemoveTree(record);
  if (!run.ok) {
    std::printf("\n%s, %s: %s\n", p->label, tag.c_str(), run.error.c_str());
    return false;
  }
  if (!removed) std::printf("note: could not remove all of %s\n", temp.c_str());
  *ms = run.msToSecondStage;
  if (counted) p->runs.push_back(run);
  return true;
}

void PrintPrograms(const Program* programs, const std::vector<bool>& used) {
  std::printf("\n%-32s %9s %9s %9s %8s %12s %13s\n", "ms to second stage", "median", "min", "max",
              "runs", "peak WS MiB", "peak priv MiB");
  for (int i = 0; i < kProgramCount; ++i) {
    const Program& p = programs[i];
    if (!used[i]) continue;
    const std::vector<double> t = Times(p);
    std::printf("%-32s %9.1f %9.1f %9.1f %8zu %12.1f %13.1f\n", p.label, Median(t), Min(t), Max(t),
                t.size(), MiB(MedianPeakWorkingSet(p)), MiB(MedianPeakPrivate(p)));
  }
}

const char* Verdict(double value, double budget) { return value <= budget ? "within" : "over"; }

// One shape: whole run, fixed cost and net time of the launcher and of the
// reference, their ratio, the cost per file and per MB, and memory.
void PrintShape(const char* title, double goalRatio, const Program* programs,
                const Pair& launcherPair, const Pair& referencePair) {
  const Program& launcher = programs[launcherPair.first];
  const Program& launcherFixed = programs[launcherPair.second];
  const ArchiveFacts& facts = launcher.facts;
  // What the payload adds over StageRun.exe alone.
  const double files = static_cast<double>(facts.files - launcherFixed.facts.files);
  const double megabytes = static_cast<double>(facts.bytes - launcherFixed.facts.bytes) / 1e6;
  std::printf("\n%s: %llu files of %.2f MB from %.2f MB of archives (%d archives); net of the "
              "StageRun-only run: %.0f files, %.2f MB\n",
              title, static_cast<unsigned long long>(facts.files), facts.bytes / 1e6,
              facts.archiveBytes / 1e6, facts.archives, files, megabytes);
  std::printf("  %-22s %9s %9s %9s %9s %9s %9s %9s %8s %9s\n", "ms", "whole", "fixed", "net",
              "net min", "net pair", "ms/file", "ms/MB", "WS MiB", "priv MiB");
  const Net l = NetOf(launcherPair);
  const Net r = NetOf(referencePair);
  const Pair* pairs[2] = {&launcherPair, &referencePair};
  const Net* nets[2] = {&l, &r};
  const char* names[2] = {"launcher", "reference"};
  for (int i = 0; i < 2; ++i) {
    const Program& p = programs[pairs[i]->first];
    std::printf("  %-22s %9.1f %9.1f %9.1f %9.1f %9.1f %9.3f %9.1f %8.1f %9.1f\n", names[i],
                Median(pairs[i]->firstMs), Median(pairs[i]->secondMs), nets[i]->medians,
                nets[i]->minimums, nets[i]->pairs, nets[i]->medians / files,
                nets[i]->medians / megabytes, MiB(MedianPeakWorkingSet(p)),
                MiB(MedianPeakPrivate(p)));
  }
  const double ratio = l.medians / r.medians;
  std::printf("  %-22s %9.2f %9s %9.2f %9.2f %9.2f\n", "launcher / reference",
              Median(launcherPair.firstMs) / Median(referencePair.firstMs), "", ratio,
              l.minimums / r.minimums, l.pairs / r.pairs);
  std::printf("  goal: net of the medians at most %.2fx the reference's -> %s (%.2fx)\n",
              goalRatio, ratio <= goalRatio ? "met" : "NOT met", ratio);

  // The launcher's memory goal: no more than the archive resources it maps
  // plus 2 MiB. The peaks of the whole process also hold what every process
  // has (under Wine its runtime, some 20 MiB), so the growth over the
  // StageRun-only launcher, the same program with (almost) nothing to map,
  // is set against the growth of what it maps, too.
  const double mapped = static_cast<double>(facts.archiveBytes);
  const double mappedFixed = static_cast<double>(launcherFixed.facts.archiveBytes);
  const double budget = mapped + kMemoryAllowance;
  const double growthBudget = mapped - mappedFixed + kMemoryAllowance;
  const double ws = MedianPeakWorkingSet(launcher);
  const double priv = MedianPeakPrivate(launcher);
  const double wsGrowth = ws - MedianPeakWorkingSet(launcherFixed);
  const double privGrowth = priv - MedianPeakPrivate(launcherFixed);
  std::printf("  launcher memory: maps %.1f MiB, budget %.1f: peak WS %.1f %s, peak private "
              "%.1f %s;\n",
              MiB(mapped), MiB(budget), MiB(ws), Verdict(ws, budget), MiB(priv),
              Verdict(priv, budget));
  std::printf("    over the StageRun-only launcher (budget %+.1f): WS %+.1f %s, private %+.1f "
              "%s\n",
              MiB(growthBudget), MiB(wsGrowth), Verdict(wsGrowth, growthBudget), MiB(privGrowth),
              Verdict(privGrowth, growthBudget));
}

// The launcher against an older build of it on one shape: the net
// unpacking time (payload less StageRun alone) of each round's pairs.
void PrintAgainstOld(const char* title, const Pair& launcherPair, const Pair& oldPair) {
  std::vector<double> now, old, differences;
  for (size_t i = 0; i < launcherPair.firstMs.size(); ++i) {
    now.push_back(launcherPair.firstMs[i] - launcherPair.secondMs[i]);
    old.push_back(oldPair.firstMs[i] - oldPair.secondMs[i]);
    differences.push_back(now.back() - old.back());
  }
  const double ratio = Median(now) / Median(old);
  std::printf("\n%s, launcher against the old launcher, net unpacking per round of pairs (ms):\n",
              title);
  std::printf("  %-10s %9s %9s %9s\n", "", "median", "min", "max");
  std::printf("  %-10s %9.1f %9.1f %9.1f\n", "launcher", Median(now), Min(now), Max(now));
  std::printf("  %-10s %9.1f %9.1f %9.1f\n", "old", Median(old), Min(old), Max(old));
  std::printf("  new / old: %.3f by the medians of the rounds' nets (at most 1.02 -> %s); "
              "new - old per round: median %+.1f ms\n",
              ratio, ratio <= 1.02 ? "held" : "NOT held", Median(differences));
}

void PrintFixedCost(const Program* programs, const Pair& pair) {
  const Net d = NetOf(pair);
  std::printf("\nFixed cost (StageRun.exe alone), ms to second stage:\n");
  std::printf("  %-34s %9s %9s\n", "", "median", "min");
  std::printf("  %-34s %9.1f %9.1f\n", programs[pair.first].label, Median(pair.firstMs),
              Min(pair.firstMs));
  std::printf("  %-34s %9.1f %9.1f\n", programs[pair.second].label, Median(pair.secondMs),
              Min(pair.secondMs));
  std::printf("  %-34s %+9.1f %+9.1f   per pair %+.1f\n", "launcher - baseline", d.medians,
              d.minimums, d.pairs);
  std::printf("  goal: the medians' difference at most %.0f ms -> %s\n", kGoalFixedMs,
              d.medians <= kGoalFixedMs ? "met" : "NOT met");
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_driver [rounds] [production] [small] [fixed] [noref] [old=<folder>]\n"
               "  rounds >= 1, default %d; the words pick the comparisons, default all\n",
               kDefaultRounds);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = kDefaultRounds;
  bool wantProduction = false, wantSmall = false, wantFixed = false, reference = true;
  std::string oldFolder;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "old=", 4) == 0) {
      oldFolder = argv[i] + 4;
      if (!oldFolder.empty() && oldFolder.back() != '\\') oldFolder += '\\';
    } else if (std::strcmp(argv[i], "noref") == 0) reference = false;
    else if (std::strcmp(argv[i], "production") == 0) wantProduction = true;
    else if (std::strcmp(argv[i], "small") == 0) wantSmall = true;
    else if (std::strcmp(argv[i], "fixed") == 0) wantFixed = true;
    else if (i == 1 && (rounds = std::atoi(argv[i])) >= 1) continue;
    else return Usage();
  }
  if (!wantProduction && !wantSmall && !wantFixed) wantProduction = wantSmall = wantFixed = true;
  std::setvbuf(stdout, nullptr, _IONBF, 0);

  Program programs[kProgramCount] = {
      {"launcher, production", "BenchSetup.exe", {}, {}, {}},
      {"launcher, small files", "BenchSmallSetup.exe", {}, {}, {}},
      {"launcher, StageRun only", "BenchFixedSetup.exe", {}, {}, {}},
      {"reference, production", "bench_reference.exe", {}, {}, {}},
      {"reference, small files", "bench_reference_small.exe", {}, {}, {}},
      {"reference, StageRun only", "bench_reference_fixed.exe", {}, {}, {}},
      {"splash baseline, StageRun only", "bench_splash_baseline.exe", {}, {}, {}},
      {"old launcher, production", "BenchSetup.exe", {}, {}, {}},
      {"old launcher, small files", "BenchSmallSetup.exe", {}, {}, {}},
      {"old launcher, StageRun only", "BenchFixedSetup.exe", {}, {}, {}},
  };
  const bool withOld = !oldFolder.empty();
  std::vector<Pair> pairs;
  // Per shape: the launcher's pair, the reference's, the old launcher's.
  int perShape[2] = {-1, -1}, referenceAt[2] = {-1, -1}, oldAt[2] = {-1, -1};
  const bool wanted[2] = {wantProduction, wantSmall};
  const ProgramId shapes[2][3] = {{kLauncherProduction, kReferenceProduction, kOldProduction},
                                  {kLauncherSmall, kReferenceSmall, kOldSmall}};
  for (int shape = 0; shape < 2; ++shape) {
    if (!wanted[shape]) continue;
    perShape[shape] = static_cast<int>(pairs.size());
    pairs.push_back({shapes[shape][0], kLauncherFixed, {}, {}});
    if (reference) {
      referenceAt[shape] = static_cast<int>(pairs.size());
      pairs.push_back({shapes[shape][1], kReferenceFixed, {}, {}});
    }
    if (withOld) {
      oldAt[shape] = static_cast<int>(pairs.size());
      pairs.push_back({shapes[shape][2], kOldFixed, {}, {}});
    }
  }
  const int fixedAt = static_cast<int>(pairs.size());
  if (wantFixed) pairs.push_back({kLauncherFixed, kBaseline, {}, {}});
  std::vector<bool> used(kProgramCount, false);
  for (const Pair& pair : pairs) used[pair.first] = used[pair.second] = true;

  const std::string folder = ProgramFolder();
  for (int i = 0; i < kProgramCount; ++i) {
    if (!used[i]) continue;
    Program& p = programs[i];
    p.path = (i >= kOldProduction ? oldFolder : folder) + p.file;
    p.facts = kv::bench::ReadArchiveFacts(p.path);
    if (!p.facts.ok) {
      std::printf("%s: %s\n", p.file, p.facts.error.c_str());
      return 1;
    }
  }
  for (int i = 0; i < kProgramCount; ++i) {
    if (!used[i]) continue;
    const ArchiveFacts& f = programs[i].facts;
    std::printf("%-26s %d archives, %5llu entries, %5llu files of %8llu bytes from %8llu bytes "
                "of archives; resources at 0x%x in the file, %s\n",
                programs[i].file, f.archives, static_cast<unsigned long long>(f.entries),
                static_cast<unsigned long long>(f.files), static_cast<unsigned long long>(f.bytes),
                static_cast<unsigned long long>(f.archiveBytes), f.resourceFileOffset,
                f.ResourcesMapped() ? "mapped" : "READ into private memory at the start");
  }
  std::printf("Rounds: %d (+%d warm-up), %zu pairs interleaved\n", rounds, kWarmUpRounds,
              pairs.size());

  const std::string base =
      TempFolder() + "kvbench" + std::to_string(::GetCurrentProcessId()) + "\\";
  if (!::CreateDirectoryA(base.c_str(), nullptr)) {
    std::printf("cannot create %s\n", base.c_str());
    return 1;
  }
  // A hidden window for the whole session: Wine ends its desktop process
  // about 1 s after the last program with a window, and the next GUI
  // program would pay for starting it again.
  HWND keeper = ::CreateWindowExA(0, "STATIC", "kvbench", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
  const int n = static_cast<int>(pairs.size());
  bool ok = true;
  for (int round = 0; ok && round < kWarmUpRounds + rounds; ++round) {
    const bool counted = round >= kWarmUpRounds;
    std::printf("round %d%s:", round, counted ? "" : " (warm-up)");
    // Over n rounds every pair takes every place once; over the next n the
    // members of each pair swap, so nothing always runs first.
    for (int k = 0; ok && k < n; ++k) {
      const int index = (k + round) % n;
      Pair& pair = pairs[index];
      const bool swap = (round / n + index) % 2 == 1;
      const ProgramId order[2] = {swap ? pair.second : pair.first,
                                  swap ? pair.first : pair.second};
      double ms[2] = {0, 0};
      for (int m = 0; ok && m < 2; ++m) {
        const std::string tag = "r" + std::to_string(round) + "p" + std::to_string(index) +
                                "m" + std::to_string(m);
        ok = RunOnce(&programs[order[m]], base, tag, counted, &ms[m]);
        if (ok) std::printf(" %s %.0f;", programs[order[m]].file, ms[m]);
      }
      if (ok && counted) {
        pair.firstMs.push_back(swap ? ms[1] : ms[0]);
        pair.secondMs.push_back(swap ? ms[0] : ms[1]);
      }
    }
    std::printf("\n");
  }
  if (keeper) ::DestroyWindow(keeper);
  kv::test::RemoveTree(base);
  if (!ok) return 1;

  PrintPrograms(programs, used);
  const char* titles[2] = {"Production shape", "Small-files shape"};
  const double goals[2] = {kGoalRatioProduction, kGoalRatioSmallFiles};
  for (int shape = 0; shape < 2; ++shape) {
    if (referenceAt[shape] >= 0)
      PrintShape(titles[shape], goals[shape], programs, pairs[perShape[shape]],
                 pairs[referenceAt[shape]]);
    if (oldAt[shape] >= 0)
      PrintAgainstOld(titles[shape], pairs[perShape[shape]], pairs[oldAt[shape]]);
  }
  if (wantFixed) PrintFixedCost(programs, pairs[fixedAt]);
  return 0;
}
