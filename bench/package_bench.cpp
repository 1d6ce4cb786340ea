// SPDX-License-Identifier: Apache-2.0
// Opening a 64 MiB package as the window does (ReadFile, then Examine with its work files in
// /tmp) beside a plain read/write copy of the same file into /tmp, and beside the floor the work
// files impose on any reader that checks them: read the package, sum it, write the section, read
// it back and compare, with the same file primitives Examine uses. The three run interleaved
// (copy, open, floor, copy, ...) and each ratio is the median of the per-round ratios, so a
// neighbour's burst on a shared machine moves one round, not the verdict.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "package/dat_file_examine.h"
#include "package/work_file.h"
#include "util/checksums.h"
#include "util/regular_file.h"

namespace vortan::bench {
namespace {

constexpr size_t kPackageSize = 64 * kMiB;

bool CopyFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok = in >= 0 && out >= 0;
  static std::vector<char> buffer(kMiB);
  while (ok) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = ::write(out, buffer.data(), static_cast<size_t>(n)) == n;
  }
  if (in >= 0) ::close(in);
  if (out >= 0 && ::close(out) != 0) ok = false;
  return ok;
}

bool Open(const std::string& path) {
  auto datFile = std::make_unique<DatFileExamine>(ScratchFolder());
  const bool ok = datFile->ReadFile(path) && datFile->Examine();
  datFile->DeleteTempFiles();
  return ok;
}

// What no checking reader can skip: the whole file read, summed, its payload written to a work
// file, read back and compared.
bool Floor(const std::string& path) {
  ByteBuffer package;
  ByteBuffer back;
  const std::string work = ScratchFolder() + "/floor.bin";
  ::unlink(work.c_str());
  bool ok = ReadRegularFile(path, uint64_t{1} << 30, package);
  volatile uint32_t sum = ok ? ByteSum32(package.data(), package.size()) : 0;
  (void)sum;
  ok = ok && WriteWorkFile(work, package.data() + 256, package.size() - 256) &&
       ReadRegularFile(work, uint64_t{1} << 30, back, SymlinkPolicy::kRefuse) &&
       back.size() == package.size() - 256 &&
       std::memcmp(back.data(), package.data() + 256, back.size()) == 0;
  ::unlink(work.c_str());
  return ok;
}

template <typename Work>
double Seconds(Work&& work, bool& ok) {
  const auto start = std::chrono::steady_clock::now();
  ok = work() && ok;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

OpeningTimes MeasureOpening(int rounds) {
  const std::string path = ScratchFolder() + "/examine.dat";
  const std::string copy = ScratchFolder() + "/copy.bin";
  WriteSizedPackage(path, kPackageSize);
  OpeningTimes times;
  times.ok = true;
  // One unmeasured round first, so every measured one finds the file in the page cache.
  Open(path);
  std::vector<double> copies, opens, floors, openPerCopy, openPerFloor, floorPerCopy;
  for (int r = 0; r < rounds; ++r) {
    const double c = Seconds([&] { return CopyFile(path, copy); }, times.ok);
    const double o = Seconds([&] { return Open(path); }, times.ok);
    const double f = Seconds([&] { return Floor(path); }, times.ok);
    std::fprintf(stderr, "  opening round %d: copy %.1f ms, open %.1f ms, floor %.1f ms\n", r + 1,
                 c * 1e3, o * 1e3, f * 1e3);
    copies.push_back(c);
    opens.push_back(o);
    floors.push_back(f);
    openPerCopy.push_back(o / c);
    openPerFloor.push_back(o / f);
    floorPerCopy.push_back(f / c);
  }
  ::unlink(copy.c_str());
  times.copySeconds = Median(copies);
  times.openSeconds = Median(opens);
  times.floorSeconds = Median(floors);
  times.openPerCopy = Median(openPerCopy);
  times.openPerFloor = Median(openPerFloor);
  times.floorPerCopy = Median(floorPerCopy);
  return times;
}

}  // namespace vortan::bench
