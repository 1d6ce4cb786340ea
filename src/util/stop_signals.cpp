// SPDX-License-Identifier: Apache-2.0
#include "util/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>

#include "util/exception_text.h"

namespace vortan {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Sent only from outside (or by a timer nobody here sets), and ending the process by default.
constexpr int kOutsideSignals[] = {SIGUSR1, SIGUSR2, SIGALRM,   SIGVTALRM, SIGPROF,
                                   SIGIO,   SIGPWR,  SIGSTKFLT, SIGXCPU};
// Ignored rather than blocked: the write that would raise them fails with EPIPE or EFBIG.
constexpr int kIgnoredSignals[] = {SIGPIPE, SIGXFSZ};

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

void SetDisposition(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

void BlockStopSignals() {
  sigset_t set = StopSet();
  for (const int signal : kOutsideSignals) sigaddset(&set, signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&set, signal);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  for (const int signal : kIgnoredSignals) SetDisposition(signal, SIG_IGN);
}

void UnblockSignalsForExec() {
  // An ignored disposition and the mask both survive exec.
  for (const int signal : kIgnoredSignals) SetDisposition(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
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
    : handler_(std::move(handler)) {
  signalFd_ = OpenStopSignalFd();
  if (signalFd_ < 0) {
    error_ = std::string("cannot open a signalfd: ") + std::strerror(errno);
    return;
  }
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    error_ = std::string("cannot open an eventfd: ") + std::strerror(errno);
    return;
  }
  try {
    thread_ = std::thread([this] { Watch(); });
  } catch (...) {
    error_ = "cannot start a thread: " + CurrentExceptionText();
  }
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
