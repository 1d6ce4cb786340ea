#include "cli/stop_requests.h"

#include <signal.h>
#include <unistd.h>

#include <string_view>

#include "link/hid_device.h"

namespace vortan::cli {
namespace {

void Say(std::string_view text) {
  // stderr may be a broken pipe: the text is lost then, and nothing else happens.
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

void StopRequests::OnSignal(int signal) {
  std::lock_guard lock(mutex_);
  if (forward_) {
    forward_(signal);
    return;
  }
  if (!running_) {
    if (!stopSignal_) stopSignal_ = signal;
    return;
  }
  if (signal == SIGINT && interrupted_) {
    if (cutOff_) return;
    cutOff_ = true;
    HidDevice::CutOff();
    Say("\nStopping the update at its next report; the keyboard may be left without firmware.\n");
    return;
  }
  interrupted_ = interrupted_ || signal == SIGINT;
  if (warned_) return;
  warned_ = true;
  Say("\nAn update is running; stopping it now can leave the keyboard without firmware. It goes "
      "on to its end; press Ctrl-C again to stop it anyway.\n");
}

void StopRequests::ForwardTo(std::function<void(int signal)> forward) {
  std::lock_guard lock(mutex_);
  forward_ = std::move(forward);
}

bool StopRequests::BeginRun() {
  std::lock_guard lock(mutex_);
  if (stopSignal_) return false;
  running_ = true;
  return true;
}

void StopRequests::EndRun() {
  std::lock_guard lock(mutex_);
  running_ = false;
}

int StopRequests::StopSignal() const {
  std::lock_guard lock(mutex_);
  return stopSignal_;
}

bool StopRequests::CutOff() const {
  std::lock_guard lock(mutex_);
  return cutOff_;
}

}  // namespace vortan::cli
