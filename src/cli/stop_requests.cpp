// SPDX-License-Identifier: Apache-2.0
#include "cli/stop_requests.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "link/hid_device.h"

namespace vortan::cli {
namespace {

void Say(std::string_view text) {
  // stderr may be a broken pipe: the text is lost then, and nothing else happens.
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
}

bool Interactive(int signal) {
  return signal == SIGINT || signal == SIGQUIT;
}

}  // namespace

StopRequests::StopRequests() : stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (stopFd_ < 0) error_ = std::string("cannot open an eventfd: ") + std::strerror(errno);
}

StopRequests::~StopRequests() {
  if (stopFd_ >= 0) ::close(stopFd_);
}

void StopRequests::OnSignal(int signal) {
  std::lock_guard lock(mutex_);
  switch (phase_) {
    case Phase::kBefore:
      if (stopSignal_) return;
      stopSignal_ = signal;
      if (stopFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
      }
      return;
    case Phase::kRunning: {
      const int forwarded = OnSignalDuringRun(signal);
      if (forward_) forward_(forwarded);
      return;
    }
    case Phase::kAfter:
      return;
  }
}

int StopRequests::OnSignalDuringRun(int signal) {
  if (Interactive(signal) && interruptedBy_) {
    if (cutOffSignal_) return signal;
    cutOffSignal_ = signal;
    if (forward_) {
      // Two equal signals merge into one on their way to a child that has not yet taken the
      // first, so the insistence goes on as the other interactive signal.
      if (signal != interruptedBy_) return signal;
      return signal == SIGINT ? SIGQUIT : SIGINT;
    }
    HidDevice::CutOff();
    Say("\nStopping the update at its next report; the keyboard may be left without firmware.\n");
    return signal;
  }
  if (Interactive(signal)) interruptedBy_ = signal;
  if (warned_ || forward_) return signal;
  warned_ = true;
  Say("\nAn update is running; stopping it now can leave the keyboard without firmware. It goes "
      "on to its end; press Ctrl-C again to stop it anyway.\n");
  return signal;
}

bool StopRequests::BeginRun() {
  return BeginForwardedRun({});
}

bool StopRequests::BeginForwardedRun(std::function<void(int signal)> forward) {
  std::lock_guard lock(mutex_);
  if (stopSignal_ || phase_ != Phase::kBefore) return false;
  phase_ = Phase::kRunning;
  forward_ = std::move(forward);
  return true;
}

void StopRequests::EndRun() {
  std::lock_guard lock(mutex_);
  phase_ = Phase::kAfter;
  forward_ = {};
}

int StopRequests::StopSignal() const {
  std::lock_guard lock(mutex_);
  return stopSignal_;
}

int StopRequests::CutOffSignal() const {
  std::lock_guard lock(mutex_);
  return cutOffSignal_;
}

}  // namespace vortan::cli
