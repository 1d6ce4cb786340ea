// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the benchmark files share: a private scratch folder, package files of a given size, and
// the names under which each measurement is registered so the table can find it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vortan::bench {

constexpr size_t kMiB = size_t{1} << 20;

// A private folder under /tmp for this run, removed with its contents at exit.
const std::string& ScratchFolder();

// Writes an update package of exactly `size` bytes to `path`: one C1 data pack whose image fills
// the rest (C1 places an image of any length, so the package object accepts it whole).
// Aborts the program if it cannot.
void WriteSizedPackage(const std::string& path, size_t size);

// Peak resident memory, in bytes, of `vortan-flash inspect PACKAGE` run as a child process with
// its work files in the scratch folder; 0 when the program could not be run or refused the
// package.
uint64_t InspectPeakRss(const std::string& packagePath);

// `vortan_bench --peak-rss-of PROGRAM ARGS...` runs PROGRAM and prints its peak resident memory
// in bytes (0 when it failed); InspectPeakRss goes through it. argv starts at PROGRAM.
inline constexpr char kPeakRssHelperFlag[] = "--peak-rss-of";
int PeakRssHelper(int argc, char** argv);

// Opening a 64 MiB package (ReadFile + Examine) beside a plain copy of it to /tmp and beside the
// floor its work files impose (read, sum, write, read back, compare), in interleaved rounds:
// medians of the times and of the per-round ratios.
struct OpeningTimes {
  bool ok = false;
  double copySeconds = 0;
  double openSeconds = 0;
  double floorSeconds = 0;
  double openPerCopy = 0;
  double openPerFloor = 0;
  double floorPerCopy = 0;
};
OpeningTimes MeasureOpening(int rounds);

// A run of vortan-flash with `args` (after --work-dir in the scratch folder), its output
// discarded: wall time and CPU time, its children's included (wait4 reports the reaped child
// together with the children it reaped).
struct Outcome {
  bool ok = false;  // exit status 0
  double wallSeconds = 0;
  double cpuSeconds = 0;
};
Outcome RunFlash(const std::vector<std::string>& args);
// `copies` runs of vortan-flash with `args`, started at once, each with a work folder of its own
// (so simulated keyboards do not lock each other out): the wall time until the last ends, the CPU
// time of all, ok when every one exited with 0.
Outcome RunFlashesAtOnce(const std::vector<std::string>& args, int copies);
double Median(std::vector<double> values);

// A whole update of one package through the real hidapi, libudev and hidraw node (an emulated
// keyboard under umockdev) beside the same update through the emulator backend, with the real
// pauses, in interleaved rounds: medians of each, and the reports one update exchanges; with
// the test bed's CPU and the cost of one umockdev round trip, which separate the emulation's
// share from the real stack's.
struct RealStackTimes {
  bool ok = false;
  std::string error;
  double reports = 0;
  Outcome real;                  // the program's own CPU: the test bed runs in another process
  Outcome emulated;              // the emulated device's work included
  double testbedCpuSeconds = 0;  // the test bed's CPU during the real stack's update
  // One call on the emulated node that its handler answers at once (an ioctl): wall time, CPU in
  // the calling process (umockdev's preload) and in the test bed.
  double tripWallSeconds = 0;
  double tripClientCpuSeconds = 0;
  double tripTestbedCpuSeconds = 0;
};
RealStackTimes MeasureRealStack(int rounds);
// Runs this bench program again as `umockdev-wrapper SELF flag rounds` (so its test bed's
// uevents reach libudev) and returns the one line it prints, or "" with `error` set when it
// cannot be run, prints nothing or fails (then `error` is its line).
std::string RunUnderTestbed(const char* flag, int rounds, std::string& error);
// `vortan_bench --real-stack ROUNDS`, run under umockdev-wrapper by MeasureRealStack, measures
// in the test bed and prints the numbers on one line.
inline constexpr char kRealStackHelperFlag[] = "--real-stack";
int RealStackHelper(int rounds);

// `flash --all` of one small package on 1, 4 and 8 simulated keyboards, with the real pauses, in
// interleaved rounds with a plain `flash --simulate` of the same package and with as many plain
// runs started at once: the median wall time and CPU time (the program and all its children) of
// each, and the reports one keyboard's update exchanges.
struct ScalePoint {
  int keyboards = 0;
  double wallSeconds = 0;
  double cpuSeconds = 0;
  // As many plain `flash --simulate` runs started at once as there are keyboards (not for 1):
  // what running that many updates at once costs on this machine without --all.
  double atOnceCpuSeconds = 0;
};
struct ParallelScale {
  bool ok = false;
  std::string error;
  int steps = 0;
  double reportsPerKeyboard = 0;
  ScalePoint single;  // flash --simulate, one keyboard without --all (keyboards 1)
  std::vector<ScalePoint> points;
};
ParallelScale MeasureParallelScale(const std::vector<int>& keyboardCounts, int rounds);

// Heap allocations (operator new) made by this program so far.
uint64_t Allocations();

// Benchmark names (the table looks the results up by them).
namespace names {
inline constexpr char kReadReference[] = "checksum/read_reference";
inline constexpr char kByteSum[] = "checksum/byte_sum";
inline constexpr char kByteChecksum[] = "checksum/ByteChecksum";
inline constexpr char kWordChecksum[] = "checksum/WordChecksum";
inline constexpr char kImageChecksum[] = "checksum/ImageChecksum";
// Per family ("A2", "C1", "A1"): the update through the emulator, and the same host work against
// the emulator's recorded replies.
std::string UpdateEmulated(const std::string& family);
std::string UpdateHostOnly(const std::string& family);
}  // namespace names

// Counters the update benchmarks set.
inline constexpr char kReports[] = "reports";
inline constexpr char kMinimumReports[] = "minimum_reports";
inline constexpr char kImageBytes[] = "image_bytes";
inline constexpr char kSucceeded[] = "succeeded";
inline constexpr char kAllocations[] = "allocations";

}  // namespace vortan::bench
