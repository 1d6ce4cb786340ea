// SPDX-License-Identifier: Apache-2.0
// `vortan-flash flash --all` on several simulated keyboards, with the real half-second pauses:
// each keyboard's update runs in a child process of its own, so with the pauses dominating,
// eight keyboards should take hardly longer than one, and the work per report should not grow.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>

#include "bench/bench_support.h"
#include "package/dat_file_examine.h"

extern char** environ;

namespace vortan::bench {
namespace {

// One C1 data pack of three 64 KiB sectors: update mode, the setup and three sectors, the last
// check; a few seconds of pauses per run.
constexpr size_t kPackageSize = 3 * 64 * 1024 + 1024;

// Starts vortan-flash with `args` after --work-dir `workDir`, output discarded; -1 when it
// could not be started.
pid_t StartFlash(const std::string& workDir, const std::vector<std::string>& args) {
  std::vector<std::string> text = {VORTAN_FLASH_PROGRAM, "--work-dir", workDir};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

// Waits for `pid`, adding its CPU time (its children's included) to `outcome`; false unless it
// exited with 0.
bool WaitFlash(pid_t pid, Outcome& outcome) {
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return false;
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  outcome.cpuSeconds += seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

Outcome RunFlash(const std::vector<std::string>& args) {
  return RunFlashesAtOnce(args, 1);
}

Outcome RunFlashesAtOnce(const std::vector<std::string>& args, int copies) {
  Outcome outcome;
  std::vector<pid_t> pids;
  const auto start = std::chrono::steady_clock::now();
  for (int k = 0; k < copies; ++k) {
    // A work folder each: it holds the lock of the simulated keyboard, which copies sharing it
    // would refuse each other.
    std::string folder = ScratchFolder();
    if (k > 0) {
      folder += "/copy" + std::to_string(k);
      ::mkdir(folder.c_str(), 0700);
    }
    pids.push_back(StartFlash(folder, args));
  }
  bool ok = true;
  for (const pid_t pid : pids) ok = WaitFlash(pid, outcome) && ok;
  outcome.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.ok = ok;
  return outcome;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

ParallelScale MeasureParallelScale(const std::vector<int>& keyboardCounts, int rounds) {
  ParallelScale scale;
  const std::string package = ScratchFolder() + "/parallel.dat";
  WriteSizedPackage(package, kPackageSize);
  {
    DatFileExamine datFile(ScratchFolder());
    if (!datFile.ReadFile(package) || !datFile.Examine()) {
      scale.error = "the package was refused";
      return scale;
    }
    scale.steps = datFile.TotalStepCount();
    datFile.DeleteTempFiles();
  }
  // One traced run counts the reports of one keyboard's update (a line each).
  const std::string trace = ScratchFolder() + "/parallel.trace";
  if (!RunFlash({"flash", package, "--simulate", "--trace", trace}).ok) {
    scale.error = "the traced update failed";
    return scale;
  }
  std::ifstream lines(trace);
  for (std::string line; std::getline(lines, line);) ++scale.reportsPerKeyboard;

  std::map<int, std::vector<double>> walls;
  std::map<int, std::vector<double>> cpus;
  std::map<int, std::vector<double>> atOnceCpus;
  std::vector<double> singleWalls;
  std::vector<double> singleCpus;
  for (int r = 0; r < rounds; ++r) {
    const Outcome single = RunFlash({"flash", package, "--simulate"});
    std::fprintf(stderr, "  flash, one keyboard, round %d: %.3f s wall, %.3f s cpu\n", r + 1,
                 single.wallSeconds, single.cpuSeconds);
    if (!single.ok) {
      scale.error = "the update of one keyboard failed";
      return scale;
    }
    singleWalls.push_back(single.wallSeconds);
    singleCpus.push_back(single.cpuSeconds);
    for (const int n : keyboardCounts) {
      const Outcome o =
          RunFlash({"flash", package, "--all", "--simulate-devices", std::to_string(n)});
      std::fprintf(stderr, "  flash --all, %d keyboard(s), round %d: %.3f s wall, %.3f s cpu\n", n,
                   r + 1, o.wallSeconds, o.cpuSeconds);
      if (!o.ok) {
        scale.error = "an update of " + std::to_string(n) + " keyboards failed";
        return scale;
      }
      walls[n].push_back(o.wallSeconds);
      cpus[n].push_back(o.cpuSeconds);
      if (n == 1) continue;
      const Outcome plain = RunFlashesAtOnce({"flash", package, "--simulate"}, n);
      std::fprintf(stderr, "  %d plain flashes at once, round %d: %.3f s wall, %.3f s cpu\n", n,
                   r + 1, plain.wallSeconds, plain.cpuSeconds);
      if (!plain.ok) {
        scale.error = std::to_string(n) + " plain updates at once failed";
        return scale;
      }
      atOnceCpus[n].push_back(plain.cpuSeconds);
    }
  }
  scale.single = {1, Median(singleWalls), Median(singleCpus)};
  for (const int n : keyboardCounts) {
    scale.points.push_back({n, Median(walls[n]), Median(cpus[n]), Median(atOnceCpus[n])});
  }
  scale.ok = true;
  return scale;
}

}  // namespace vortan::bench
