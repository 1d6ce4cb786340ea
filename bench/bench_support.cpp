// SPDX-License-Identifier: Apache-2.0
#include "bench/bench_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "package_builder/description_pieces.h"
#include "package_builder/package_builder.h"

extern char** environ;

namespace vortan::bench {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "vortan_bench: %s\n", what.c_str());
  std::exit(1);
}

}  // namespace

const std::string& ScratchFolder() {
  // Never destroyed, so the exit handler can still name it.
  static const std::string* folder = [] {
    auto* path = new std::string("/tmp/vortan-bench-XXXXXX");
    if (::mkdtemp(path->data()) == nullptr) Fail("cannot make a folder in /tmp");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return path;
  }();
  return *folder;
}

void WriteSizedPackage(const std::string& path, size_t size) {
  const std::string description = pack::C1Description("0x10000");
  // Header and one descriptor, then the description and the image back to back.
  const size_t overhead = 256 + description.size();
  if (size <= overhead) Fail("package size too small");
  pack::PackageContents contents;
  contents.packs = {{"C1", 0, description, pack::GenerateImage(size - overhead, 25)}};
  std::vector<uint8_t> bytes;
  std::string error;
  if (!pack::BuildPackage(contents, {}, bytes, error)) Fail("cannot build a package: " + error);
  if (bytes.size() != size) Fail("package layout changed: " + std::to_string(bytes.size()));
  if (!pack::WritePackageFile(path, bytes)) Fail("cannot write " + path);
}

namespace {

// Runs argv[0] with its output discarded and returns the exit status, with its peak resident
// memory in `peakRss`; -1 when it could not be run.
int SpawnAndWait(std::vector<std::string> args, uint64_t& peakRss, int outputFd) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) return -1;
  peakRss = static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // ru_maxrss is in KiB
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int PeakRssHelper(int argc, char** argv) {
  uint64_t peak = 0;
  const int status = SpawnAndWait({argv, argv + argc}, peak, -1);
  std::printf("%llu\n", static_cast<unsigned long long>(status == 0 ? peak : 0));
  return 0;
}

uint64_t InspectPeakRss(const std::string& packagePath) {
  // A child's peak counts the memory of the process it was spawned from, and this one holds
  // hundreds of MiB of test data. So a fresh copy of this program, small until it runs
  // PeakRssHelper, spawns vortan-flash and reports its peak back through a pipe.
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return 0;
  uint64_t ignored = 0;
  const int status = SpawnAndWait({"/proc/self/exe", kPeakRssHelperFlag, VORTAN_FLASH_PROGRAM,
                                   "--work-dir", ScratchFolder(), "inspect", packagePath},
                                  ignored, pipeFds[1]);
  ::close(pipeFds[1]);
  char text[32] = {};
  const ssize_t n = ::read(pipeFds[0], text, sizeof text - 1);
  ::close(pipeFds[0]);
  if (status != 0 || n <= 0) return 0;
  return std::strtoull(text, nullptr, 10);
}

std::string names::UpdateEmulated(const std::string& family) {
  return "update/" + family + "/with_emulator";
}

std::string names::UpdateHostOnly(const std::string& family) {
  return "update/" + family + "/host_only";
}

std::string RunUnderTestbed(const char* flag, int rounds, std::string& error) {
  std::error_code noPath;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", noPath).string();
  const std::string command =
      "umockdev-wrapper '" + self + "' " + flag + " " + std::to_string(rounds);
  FILE* helper = ::popen(command.c_str(), "r");
  if (!helper) {
    error = "umockdev-wrapper cannot be run";
    return "";
  }
  char line[512] = {};
  const bool read = std::fgets(line, sizeof line, helper) != nullptr;
  const int status = ::pclose(helper);
  if (!read) error = "the helper printed nothing";
  if (read && status != 0) error = line;
  return error.empty() ? std::string(line) : "";
}

}  // namespace vortan::bench
