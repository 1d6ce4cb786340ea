// SPDX-License-Identifier: Apache-2.0
// A whole update through the system's hidapi and libudev and a hidraw node, against the same
// update through the emulator backend. The node is an emulated keyboard in a umockdev test bed,
// so the measuring runs in a helper process under umockdev's preload library.
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "bench/bench_support.h"
#include "emulator/simulation/simulated_device.h"
#include "emulator/umockdev/hidraw_testbed.h"
#include "package/dat_file_examine.h"

namespace vortan::bench {
namespace {

// One C1 data pack of eight 64 KiB sectors: about 10000 reports and 11 steps of pauses.
constexpr size_t kPackageSize = 8 * 64 * 1024 + 1024;
constexpr uint16_t kVid = 0x3151;
constexpr uint16_t kPid = 0x4002;

double ProcessCpuSeconds() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ThreadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// What one call on the emulated node costs umockdev, whatever the call: HIDIOCGRDESCSIZE, which
// the handler answers at once, made `calls` times on `node`. The wall time, the CPU time of the
// calling thread (the preload's side, in the program) and of the rest of this process (the test
// bed's side), per call; false when the node cannot be opened or refuses the call.
struct RoundTrip {
  double wall = 0;
  double client = 0;
  double testbed = 0;
};
bool MeasureRoundTrip(const std::string& node, int calls, RoundTrip& trip) {
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  const double process = ProcessCpuSeconds();
  const double thread = ThreadCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  int size = 0;  // hidapi looks only at the call's result, so the test bed leaves it
  int failed = 0;
  for (int i = 0; i < calls; ++i) failed += ::ioctl(fd, HIDIOCGRDESCSIZE, &size) != 0;
  trip.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  trip.client = ThreadCpuSeconds() - thread;
  trip.testbed = ProcessCpuSeconds() - process - trip.client;
  ::close(fd);
  trip.wall /= calls;
  trip.client /= calls;
  trip.testbed /= calls;
  return failed == 0;
}

}  // namespace

int RealStackHelper(int rounds) {
  const std::string package = ScratchFolder() + "/real_stack.dat";
  const std::string config = ScratchFolder() + "/Config.ini";
  WriteSizedPackage(package, kPackageSize);
  std::ofstream(config) << "IDC_VID=0x3151\nIDC_PID=0x4002\n";
  emu::HidrawTestbed bed;
  auto device = std::make_unique<emu::LoaderDevice>(kVid, kPid);
  {
    DatFileExamine datFile(ScratchFolder());
    if (!datFile.ReadFile(package) || !datFile.Examine() ||
        !emu::FitSimulatedDevice(*device, datFile)) {
      std::printf("error the package was refused\n");
      return 1;
    }
    datFile.DeleteTempFiles();
  }
  emu::HidrawKeyboard keyboard;
  keyboard.vid = kVid;
  keyboard.pid = kPid;
  if (!bed.Error().empty() || bed.Plug(std::move(device), keyboard) < 0) {
    std::printf("error %s\n", bed.Error().c_str());
    return 1;
  }
  const std::string trace = ScratchFolder() + "/real_stack.trace";
  if (!RunFlash({"--config", config, "flash", package, "--simulate", "--trace", trace}).ok) {
    std::printf("error the traced update failed\n");
    return 1;
  }
  double reports = 0;
  std::ifstream lines(trace);
  for (std::string line; std::getline(lines, line);) ++reports;
  std::vector<double> realWall, realCpu, emuWall, emuCpu, bedCpu, tripWall, tripClient, tripBed;
  for (int r = 0; r < rounds; ++r) {
    RoundTrip trip;
    if (!MeasureRoundTrip(bed.NodePath(0), 2000, trip)) {
      std::printf("error the node cannot be opened or refused the ioctl\n");
      return 1;
    }
    tripWall.push_back(trip.wall);
    tripClient.push_back(trip.client);
    tripBed.push_back(trip.testbed);
    // This process only waits for the program meanwhile: its CPU is the test bed's.
    const double before = ProcessCpuSeconds();
    const Outcome real = RunFlash({"--config", config, "flash", package});
    bedCpu.push_back(ProcessCpuSeconds() - before);
    const Outcome emulated = RunFlash({"--config", config, "flash", package, "--simulate"});
    std::fprintf(stderr, "  real stack / emulator, round %d: %.3f / %.3f s wall\n", r + 1,
                 real.wallSeconds, emulated.wallSeconds);
    if (!real.ok || !emulated.ok) {
      std::printf("error an update failed\n");
      return 1;
    }
    realWall.push_back(real.wallSeconds);
    realCpu.push_back(real.cpuSeconds);
    emuWall.push_back(emulated.wallSeconds);
    emuCpu.push_back(emulated.cpuSeconds);
  }
  std::printf("ok %.0f %.6f %.6f %.6f %.6f %.6f %.9f %.9f %.9f\n", reports, Median(realWall),
              Median(realCpu), Median(emuWall), Median(emuCpu), Median(bedCpu), Median(tripWall),
              Median(tripClient), Median(tripBed));
  return 0;
}

RealStackTimes MeasureRealStack(int rounds) {
  RealStackTimes times;
  const std::string line = RunUnderTestbed(kRealStackHelperFlag, rounds, times.error);
  if (!times.error.empty()) return times;
  const int fields =
      std::sscanf(line.c_str(), "ok %lf %lf %lf %lf %lf %lf %lf %lf %lf", &times.reports,
                  &times.real.wallSeconds, &times.real.cpuSeconds, &times.emulated.wallSeconds,
                  &times.emulated.cpuSeconds, &times.testbedCpuSeconds, &times.tripWallSeconds,
                  &times.tripClientCpuSeconds, &times.tripTestbedCpuSeconds);
  times.ok = fields == 9;
  if (!times.ok) times.error = line;
  return times;
}

}  // namespace vortan::bench
