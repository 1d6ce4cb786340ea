// Opening a 64 MiB package as the window does (ReadFile, then Examine with its work files in
// /tmp) beside a plain read/write copy of the same file into /tmp in the same run: checking and
// unpacking a package should cost little more than copying it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "package/dat_file_examine.h"

namespace vortan::bench {
namespace {

constexpr size_t kPackageSize = 64 * kMiB;

const std::string& PackagePath() {
  static const auto* path = [] {
    auto* p = new std::string(ScratchFolder() + "/examine.dat");
    WriteSizedPackage(*p, kPackageSize);
    return p;
  }();
  return *path;
}

void Examine(benchmark::State& state) {
  const std::string& path = PackagePath();
  const std::string workFolder = ScratchFolder();
  for (auto _ : state) {
    auto datFile = std::make_unique<DatFileExamine>(workFolder);
    if (!datFile->ReadFile(path) || !datFile->Examine()) {
      state.SkipWithError("the package was refused");
      break;
    }
    // Opening is measured, not the release of the package and its updaters afterwards.
    state.PauseTiming();
    datFile.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPackageSize));
}

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

void Copy(benchmark::State& state) {
  const std::string& path = PackagePath();
  const std::string copy = ScratchFolder() + "/copy.bin";
  for (auto _ : state) {
    if (!CopyFile(path, copy)) {
      state.SkipWithError("the copy failed");
      break;
    }
  }
  ::unlink(copy.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPackageSize));
}

// Real time: both wait on the file system, which CPU time would leave out.
const bool registered = [] {
  benchmark::RegisterBenchmark(names::kCopy, Copy)->MinTime(0.5)->Repetitions(3)->UseRealTime();
  benchmark::RegisterBenchmark(names::kExamine, Examine)
      ->MinTime(0.5)
      ->Repetitions(3)
      ->UseRealTime();
  return true;
}();

}  // namespace
}  // namespace vortan::bench
