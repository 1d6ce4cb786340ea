// SPDX-License-Identifier: Apache-2.0
#include "bench/device_watch_bench.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "emulator/umockdev/hidraw_testbed.h"
#include "link/hid_backend.h"

namespace vortan::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Voluntary and involuntary context switches of every thread of `pid`; -1 once it is gone.
long ContextSwitches(pid_t pid) {
  long sum = 0;
  std::error_code error;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos) {
        sum += std::atol(line.c_str() + line.find(':') + 1);
      }
    }
  }
  return error ? -1 : sum;
}

pid_t StartWindow(const std::string& program) {
  const std::string folder = ScratchFolder() + "/window";
  std::filesystem::create_directories(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    std::freopen("/dev/null", "w", stderr);
    ::execl(program.c_str(), program.c_str(), "--simulate", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

double Milliseconds(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

bool ReadableWithin(int fd, int ms) {
  pollfd watched = {fd, POLLIN, 0};
  return ::poll(&watched, 1, ms) > 0;
}

}  // namespace

IdleWakeups MeasureIdleWakeups(const std::string& program, int seconds) {
  IdleWakeups result;
  const pid_t pid = StartWindow(program);
  if (pid < 0) {
    result.error = "the window cannot be started";
    return result;
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));  // launch, first paint, settings
  const long before = ContextSwitches(pid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const long after = ContextSwitches(pid);
  ::kill(pid, SIGTERM);  // the window closes on it
  int status = 0;
  for (int i = 0; i < 50 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  result.ok = before >= 0 && after >= 0;
  if (!result.ok) result.error = "the window ended early";
  result.perSecond = static_cast<double>(after - before) / seconds;
  return result;
}

int NoticeHelper(int rounds) {
  emu::HidrawTestbed bed;
  std::shared_ptr<HidBackend> backend = MakeHidapiBackend();
  const int fd = bed.Error().empty() ? backend->ChangeDescriptor() : -1;
  if (fd < 0) {
    std::printf("error no change descriptor %s\n", bed.Error().c_str());
    return 1;
  }
  emu::HidrawKeyboard keyboard;
  keyboard.vid = 0x3151;
  keyboard.pid = 0x4002;
  std::vector<double> plugged, unplugged;
  for (int r = 0; r < rounds; ++r) {
    const Clock::time_point plug = Clock::now();
    const int index =
        bed.Plug(std::make_unique<emu::LoaderDevice>(keyboard.vid, keyboard.pid), keyboard);
    const bool heard = index >= 0 && ReadableWithin(fd, 1000);
    plugged.push_back(Milliseconds(plug));
    backend->DrainChanges();
    if (!heard || backend->CountDevices(keyboard.vid, keyboard.pid) != 1) {
      std::printf("error the plug was not heard or counted %s\n", bed.Error().c_str());
      return 1;
    }
    const Clock::time_point unplug = Clock::now();
    bed.Unplug(index);
    const bool gone = ReadableWithin(fd, 1000);
    unplugged.push_back(Milliseconds(unplug));
    backend->DrainChanges();
    if (!gone || backend->CountDevices(keyboard.vid, keyboard.pid) != 0) {
      std::printf("error the unplug was not heard or counted\n");
      return 1;
    }
  }
  std::printf("ok %.3f %.3f\n", Median(plugged), Median(unplugged));
  return 0;
}

NoticeLatency MeasureNoticeLatency(int rounds) {
  NoticeLatency result;
  const std::string line = RunUnderTestbed(kNoticeHelperFlag, rounds, result.error);
  if (!result.error.empty()) return result;
  result.ok = std::sscanf(line.c_str(), "ok %lf %lf", &result.plugMs, &result.unplugMs) == 2;
  if (!result.ok) result.error = line;
  return result;
}

}  // namespace vortan::bench
