#include "util/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vortan {
namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
  return set;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

int OpenStopSignalFd() {
  const sigset_t set = StopSet();
  return ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

int ReadStopSignal(int fd) {
  signalfd_siginfo info = {};
  ssize_t got;
  do {
    got = ::read(fd, &info, sizeof info);
  } while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

StopSignalWatcher::StopSignalWatcher(std::function<void(int)> handler)
    : handler_(std::move(handler)),
      signalFd_(OpenStopSignalFd()),
      wakeFd_(::eventfd(0, EFD_CLOEXEC)) {
  if (signalFd_ >= 0 && wakeFd_ >= 0) thread_ = std::thread([this] { Watch(); });
}

StopSignalWatcher::~StopSignalWatcher() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  if (signalFd_ >= 0) ::close(signalFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void StopSignalWatcher::Watch() {
  for (;;) {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    while (const int signal = ReadStopSignal(signalFd_)) handler_(signal);
  }
}

}  // namespace vortan
