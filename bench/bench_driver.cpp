// bench_driver [rounds]
//
// Times the launcher's unpacking against a reference extractor written for
// speed. Four programs from the driver's own folder are run, interleaved,
// `rounds` times each (default 5) after one warm-up round that is not
// counted:
//   BenchSetup.exe             the launcher with the benchmark payload
//   BenchFixedSetup.exe        the launcher with StageRun.exe alone: its
//                              fixed cost (splash, checks, script, launch)
//   bench_reference.exe        the reference with the benchmark payload
//   bench_reference_fixed.exe  the reference with StageRun.exe alone
// Every run gets a fresh temporary folder (TMP, TEMP), is timed from its
// CreateProcess to the second stage's own start stamp, must leave exactly
// the files its archives hold, and its folder is removed afterwards.
//
// Prints the times (median, min, max), each side's net unpacking time
// (with the payload less with StageRun alone: from medians, from minimums
// and per round), their ratio against the goal of 1.5 (judged on the
// medians), and the launcher's peak memory against the archive resources
// it maps plus 2 MiB. Exit code 0 when every run
// counted, 1 when a run failed, 2 for a bad argument.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/archive_facts.h"
#include "bench/timed_run.h"
#include "platform/win32.h"
#include "tests/support/scoped_folder.h"

namespace {

using kv::bench::ArchiveFacts;
using kv::bench::TimedRun;

constexpr int kDefaultRounds = 5;
constexpr int kWarmUpRounds = 1;
constexpr DWORD kRunTimeoutMs = 120000;
// The launcher's allowance beyond the archive resources it maps.
constexpr double kMemoryAllowance = 2.0 * 1024 * 1024;
// The goal for the launcher's net unpacking time against the reference's.
constexpr double kGoalRatio = 1.5;

struct Variant {
  const char* label;
  const char* program;
  ArchiveFacts facts;
  std::vector<TimedRun> runs;
};

enum { kLauncher, kLauncherFixed, kReference, kReferenceFixed, kVariantCount };

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Min(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

std::vector<double> Times(const Variant& v) {
  std::vector<double> t;
  for (const TimedRun& run : v.runs) t.push_back(run.msToSecondStage);
  return t;
}

std::vector<double> PeakWorkingSets(const Variant& v) {
  std::vector<double> t;
  for (const TimedRun& run : v.runs) t.push_back(static_cast<double>(run.peakWorkingSet));
  return t;
}

std::vector<double> PeakPagefile(const Variant& v) {
  std::vector<double> t;
  for (const TimedRun& run : v.runs) t.push_back(static_cast<double>(run.peakPagefileUsage));
  return t;
}

// The k-th program of a round. A program with the payload and the same
// program with StageRun alone always run back to back, so their difference
// sees the same load; the order of the pairs and within them changes from
// round to round, so nothing always runs first.
int RunOrder(int round, int k) {
  static const int kPairs[2][2] = {{kLauncher, kLauncherFixed}, {kReference, kReferenceFixed}};
  const int pair = (k / 2 + round) % 2;
  const int member = (k % 2 + round / 2) % 2;
  return kPairs[pair][member];
}

double MiB(double bytes) { return bytes / (1024.0 * 1024.0); }

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

// One run of `v` in a fresh folder below `base`, its time in *ms; false
// when it failed. Counted runs are kept in v->runs.
bool RunOnce(Variant* v, const std::string& base, int round, int index, bool counted,
             double* ms) {
  const std::string tag = "r" + std::to_string(round) + "v" + std::to_string(index);
  const std::string temp = base + tag + "\\";
  const std::string record = base + tag + "-record.txt";
  if (!::CreateDirectoryA(temp.c_str(), nullptr)) {
    std::printf("cannot create %s\n", temp.c_str());
    return false;
  }
  TimedRun run = kv::bench::RunTimed(v->program, temp, record, kRunTimeoutMs);
  if (run.ok && (run.filesFound != v->facts.files || run.bytesFound != v->facts.bytes)) {
    run.ok = false;
    run.error = "the work folder holds " + std::to_string(run.filesFound) + " files of " +
                std::to_string(run.bytesFound) + " bytes, not " +
                std::to_string(v->facts.files) + " of " + std::to_string(v->facts.bytes);
  }
  const bool removed = kv::test::RemoveTree(temp) && kv::test::RemoveTree(record);
  if (!run.ok) {
    std::printf("%s, round %d: %s\n", v->label, round, run.error.c_str());
    return false;
  }
  if (!removed) std::printf("note: could not remove all of %s\n", temp.c_str());
  *ms = run.msToSecondStage;
  if (counted) v->runs.push_back(run);
  return true;
}

void PrintTable(const Variant* variants) {
  std::printf("\n%-27s %9s %9s %9s %12s %13s\n", "ms to second stage", "median", "min", "max",
              "peak WS MiB", "peak priv MiB");
  for (int i = 0; i < kVariantCount; ++i) {
    const Variant& v = variants[i];
    const std::vector<double> t = Times(v);
    std::printf("%-27s %9.1f %9.1f %9.1f %12.1f %13.1f\n", v.label, Median(t),
                Min(t), *std::max_element(t.begin(), t.end()),
                MiB(Median(PeakWorkingSets(v))), MiB(Median(PeakPagefile(v))));
  }
}

// The median of the per-round differences full - fixed.
double PairedNet(const Variant& full, const Variant& fixed) {
  std::vector<double> d;
  for (size_t i = 0; i < full.runs.size(); ++i)
    d.push_back(full.runs[i].msToSecondStage - fixed.runs[i].msToSecondStage);
  return Median(d);
}

// Net unpacking time: the time with the payload less the time with
// StageRun.exe alone, from medians (the figure the goal is judged by), from
// minimums (other load on the machine only ever adds time) and as the
// median of each round's difference (the two ran back to back).
void PrintNetTimes(const Variant* variants) {
  const std::vector<double> full = Times(variants[kLauncher]);
  const std::vector<double> fixed = Times(variants[kLauncherFixed]);
  const std::vector<double> refFull = Times(variants[kReference]);
  const std::vector<double> refFixed = Times(variants[kReferenceFixed]);
  const double launcher = Median(full) - Median(fixed);
  const double reference = Median(refFull) - Median(refFixed);
  const double launcherMin = Min(full) - Min(fixed);
  const double referenceMin = Min(refFull) - Min(refFixed);
  const double launcherPaired = PairedNet(variants[kLauncher], variants[kLauncherFixed]);
  const double referencePaired = PairedNet(variants[kReference], variants[kReferenceFixed]);
  std::printf("\nNet unpacking time, ms (with the payload - with StageRun alone):\n");
  std::printf("  %-27s %9s %9s %9s\n", "", "medians", "minimums", "pairs");
  std::printf("  %-27s %9.1f %9.1f %9.1f\n", "launcher", launcher, launcherMin, launcherPaired);
  std::printf("  %-27s %9.1f %9.1f %9.1f\n", "reference", reference, referenceMin,
              referencePaired);
  const double ratio = launcher / reference;
  std::printf("  %-27s %9.2f %9.2f %9.2f\n", "ratio launcher / reference", ratio,
              launcherMin / referenceMin, launcherPaired / referencePaired);
  std::printf("  goal: the ratio of the medians at most %.2f -> %s\n", kGoalRatio,
              ratio <= kGoalRatio ? "met" : "NOT met");
}

const char* Verdict(double value, double budget) { return value <= budget ? "within" : "over"; }

// The goal: no more than the archive resources the launcher maps plus
// 2 MiB. The peaks of the whole process also hold what every process of
// the system has (under Wine its runtime, some 20 MiB), so the growth over
// the StageRun-only launcher, the same program with (almost) nothing to
// map, is set against the growth of what it maps, too.
void PrintMemory(const Variant* variants) {
  const Variant& full = variants[kLauncher];
  const Variant& fixed = variants[kLauncherFixed];
  const double mapped = static_cast<double>(full.facts.archiveBytes);
  const double mappedFixed = static_cast<double>(fixed.facts.archiveBytes);
  const double budget = mapped + kMemoryAllowance;
  const double growthBudget = mapped - mappedFixed + kMemoryAllowance;
  const double ws = Median(PeakWorkingSets(full));
  const double priv = Median(PeakPagefile(full));
  const double wsGrowth = ws - Median(PeakWorkingSets(fixed));
  const double privGrowth = priv - Median(PeakPagefile(fixed));

  std::printf("\nLauncher memory, MiB (medians of the per-run peaks):\n");
  std::printf("  archive resources it maps   %9.1f (%d archives); budget maps + 2 = %.1f\n",
              MiB(mapped), full.facts.archives, MiB(budget));
  std::printf("  peak working set            %9.1f -> %s\n", MiB(ws), Verdict(ws, budget));
  std::printf("  peak private bytes          %9.1f -> %s\n", MiB(priv), Verdict(priv, budget));
  std::printf("  over the StageRun-only launcher (maps %.1f MiB less; budget %+.1f):\n",
              MiB(mapped - mappedFixed), MiB(growthBudget));
  std::printf("  peak working set            %+9.1f -> %s\n", MiB(wsGrowth),
              Verdict(wsGrowth, growthBudget));
  std::printf("  peak private bytes          %+9.1f -> %s\n", MiB(privGrowth),
              Verdict(privGrowth, growthBudget));
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = kDefaultRounds;
  if (argc > 1) {
    rounds = std::atoi(argv[1]);
    if (rounds < 1 || argc > 2) {
      std::fprintf(stderr, "usage: bench_driver [rounds]   (rounds >= 1, default %d)\n",
                   kDefaultRounds);
      return 2;
    }
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);

  const std::string folder = ProgramFolder();
  Variant variants[kVariantCount] = {
      {"launcher, bench payload", "BenchSetup.exe", {}, {}},
      {"launcher, StageRun only", "BenchFixedSetup.exe", {}, {}},
      {"reference, bench payload", "bench_reference.exe", {}, {}},
      {"reference, StageRun only", "bench_reference_fixed.exe", {}, {}},
  };
  std::vector<std::string> programs;
  for (Variant& v : variants) {
    programs.push_back(folder + v.program);
    v.facts = kv::bench::ReadArchiveFacts(programs.back());
    if (!v.facts.ok) {
      std::printf("%s: %s\n", v.program, v.facts.error.c_str());
      return 1;
    }
  }
  for (size_t i = 0; i < programs.size(); ++i) variants[i].program = programs[i].c_str();

  const ArchiveFacts& payload = variants[kLauncher].facts;
  std::printf("Payload: %d archives, %llu entries, %llu files of %llu bytes from %llu bytes "
              "of archives\n",
              payload.archives, static_cast<unsigned long long>(payload.entries),
              static_cast<unsigned long long>(payload.files),
              static_cast<unsigned long long>(payload.bytes),
              static_cast<unsigned long long>(payload.archiveBytes));
  std::printf("Rounds: %d (+%d warm-up), the four programs interleaved\n", rounds, kWarmUpRounds);

  const std::string base = TempFolder() + "kvbench" + std::to_string(::GetCurrentProcessId()) + "\\";
  if (!::CreateDirectoryA(base.c_str(), nullptr)) {
    std::printf("cannot create %s\n", base.c_str());
    return 1;
  }
  // A hidden window for the whole session: Wine ends its desktop process
  // about 1 s after the last program with a window, and the next GUI
  // program would pay for starting it again.
  HWND keeper = ::CreateWindowExA(0, "STATIC", "kvbench", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
  bool ok = true;
  for (int round = 0; ok && round < kWarmUpRounds + rounds; ++round) {
    const bool counted = round >= kWarmUpRounds;
    std::printf("round %d%s:", round, counted ? "" : " (warm-up)");
    for (int k = 0; ok && k < kVariantCount; ++k) {
      const int i = RunOrder(round, k);
      double ms = 0;
      ok = RunOnce(&variants[i], base, round, i, counted, &ms);
      if (ok) std::printf(" %s %.0f ms;", variants[i].program + folder.size(), ms);
    }
    std::printf("\n");
  }
  if (keeper) ::DestroyWindow(keeper);
  kv::test::RemoveTree(base);
  if (!ok) return 1;

  PrintTable(variants);
  PrintNetTimes(variants);
  PrintMemory(variants);
  return 0;
}
