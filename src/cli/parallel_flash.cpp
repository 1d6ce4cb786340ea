// SPDX-License-Identifier: Apache-2.0
#include "cli/parallel_flash.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli/child_process.h"
#include "cli/exit_codes.h"
#include "cli/keyboard_table.h"

namespace vortan::cli {
namespace {

// The stop signals of a run, as bytes on a pipe that the loop polls: the signal thread only
// writes, the loop passes them on to the children it owns. The run ends (StopRequests::EndRun)
// before the pipe closes, so the signal thread never writes to a reused descriptor.
class SignalQueue {
 public:
  SignalQueue() {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) error_ = std::strerror(errno);
  }
  ~SignalQueue() {
    if (begun_) stops_->EndRun();
    if (fds_[0] >= 0) ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  SignalQueue(const SignalQueue&) = delete;
  SignalQueue& operator=(const SignalQueue&) = delete;

  // Begins the run of `stops`, or, with none, only makes sure the pipe exists. False, with
  // nothing begun, when a stop came before (Error() empty) or the pipe could not be made.
  bool Begin(StopRequests* stops) {
    if (fds_[0] < 0) return false;
    if (!stops) return true;
    const int writeFd = fds_[1];
    begun_ = stops->BeginForwardedRun([writeFd](int signal) {
      const unsigned char byte = static_cast<unsigned char>(signal);
      [[maybe_unused]] const ssize_t written = ::write(writeFd, &byte, 1);
    });
    stops_ = stops;
    return begun_;
  }
  // Ends the run begun, at once.
  void End() {
    if (begun_) stops_->EndRun();
    begun_ = false;
  }

  int Fd() const { return fds_[0]; }
  const std::string& Error() const { return error_; }

 private:
  StopRequests* stops_ = nullptr;
  bool begun_ = false;
  int fds_[2] = {-1, -1};
  std::string error_;
};

struct Child {
  ChildProcess process;
  std::array<int, 2> fds = {-1, -1};  // stdout, stderr
  std::array<std::string, 2> pending;
  bool reaped = false;
  bool sawEnd = false;
  bool outputFailed = false;  // exited with kExitOutputFailed
  std::string lastErrorLine;
};

class Runner {
 public:
  explicit Runner(const ParallelFlashPlan& plan) : plan_(plan), reporter_(*plan.reporter) {
    for (const ParallelFlashPlan::Keyboard& k : plan.keyboards) {
      KeyboardRow row;
      row.name = k.name;
      rows_.push_back(row);
    }
    children_.resize(plan.keyboards.size());
  }

  ~Runner() {
    if (epoll_ >= 0) ::close(epoll_);
  }

  int Run() {
    // epoll rather than poll(): a wake costs what is ready, not every stream of every keyboard,
    // and the children wake the parent a few times per step each.
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
      std::cerr << "Cannot watch the updates' output: " << std::strerror(errno) << '\n';
      return kExitCannotStart;
    }
    SignalQueue signals;
    if (!signals.Begin(plan_.stops)) {
      if (!signals.Error().empty()) {
        std::cerr << "Cannot pass stop signals on to the updates: " << signals.Error() << '\n';
        return kExitCannotStart;
      }
      return ExitStatusOfSignal(plan_.stops->StopSignal());
    }
    if (!Watch(signals.Fd(), kSignalTag)) {
      std::cerr << "Cannot pass stop signals on to the updates: " << std::strerror(errno) << '\n';
      return kExitCannotStart;
    }
    for (size_t i = 0; i < children_.size(); ++i) Start(i);
    Redraw();
    while (Loop(signals.Fd())) {
    }
    // Every child has ended: the outcome is theirs, whatever signal comes now.
    signals.End();
    reporter_.Summary(rows_);
    const bool outputFailed = std::any_of(children_.begin(), children_.end(),
                                          [](const Child& child) { return child.outputFailed; });
    if (UpdatedCount(rows_) == rows_.size()) {
      return outputFailed ? kExitOutputFailed : kExitSuccess;
    }
    // As for a single flash: the user's second Ctrl-C, not the keyboards, ended the updates.
    const int cutOff = plan_.stops ? plan_.stops->CutOffSignal() : 0;
    return cutOff ? ExitStatusOfSignal(cutOff) : kExitUpdateFailed;
  }

 private:
  static constexpr uint64_t kSignalTag = ~uint64_t{0};

  // Registers `fd` for reading under `tag` (child * 2 + stream, or kSignalTag).
  bool Watch(int fd, uint64_t tag) {
    epoll_event event = {};
    event.events = EPOLLIN;
    event.data.u64 = tag;
    return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
  }

  void Start(size_t i) {
    Child& child = children_[i];
    if (!StartSelf(plan_.keyboards[i].args, child.process)) {
      child.reaped = true;
      Finish(i, "The update could not be started: " + std::string(std::strerror(errno)));
      return;
    }
    child.fds = {child.process.out, child.process.err};
    if (Watch(child.fds[0], 2 * i) && Watch(child.fds[1], 2 * i + 1)) {
      watched_ += 2;
      return;
    }
    // Output nobody reads would stall the child once a pipe fills: it goes before it begins.
    const std::string why = std::strerror(errno);
    ::kill(child.process.pid, SIGKILL);
    for (int& fd : child.fds) Close(fd);
    while (::waitpid(child.process.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    child.reaped = true;
    Finish(i, "The update could not be started: " + why);
  }

  void Close(int& fd) {
    if (fd < 0) return;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    fd = -1;
  }

  // One round of waiting; false once every child has ended.
  bool Loop(int signalFd) {
    if (watched_ == 0) return false;
    epoll_event ready[16];
    const int n = ::epoll_wait(epoll_, ready, 16, -1);
    if (n < 0) return errno == EINTR;
    for (int k = 0; k < n; ++k) {
      const uint64_t tag = ready[k].data.u64;
      if (tag == kSignalTag) {
        PassOnSignals(signalFd);
      } else {
        Read(static_cast<size_t>(tag / 2), static_cast<int>(tag % 2));
      }
    }
    return true;
  }

  void PassOnSignals(int signalFd) {
    unsigned char signo = 0;
    while (::read(signalFd, &signo, 1) == 1) {
      for (const Child& child : children_) {
        if (!child.reaped) ::kill(child.process.pid, signo);
      }
    }
  }

  void Read(size_t i, int stream) {
    Child& child = children_[i];
    char buffer[4096];
    const ssize_t n = ::read(child.fds[stream], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) return;
    if (n > 0) {
      std::string& pending = child.pending[stream];
      pending.append(buffer, static_cast<size_t>(n));
      size_t start = 0;
      for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
        Line(i, stream, pending.substr(start, nl - start));
      }
      pending.erase(0, start);
      return;
    }
    if (!child.pending[stream].empty()) Line(i, stream, std::exchange(child.pending[stream], ""));
    Close(child.fds[stream]);
    --watched_;
    if (child.fds[0] < 0 && child.fds[1] < 0) Reap(i);
  }

  void Line(size_t i, int stream, const std::string& line) {
    Child& child = children_[i];
    if (stream == 1) {
      if (line.empty()) return;
      child.lastErrorLine = line;
      reporter_.KeyboardText(rows_[i].name, line);
      return;
    }
    const std::optional<RunEvent> event = ParseRunEvent(line);
    if (!event || child.sawEnd) return;
    reporter_.KeyboardEvent(rows_[i].name, *event, line);
    KeyboardRow& row = rows_[i];
    switch (event->kind) {
      case RunEvent::Kind::kStart:
        row.state = KeyboardRow::State::kUpdating;
        row.total = event->total;
        break;
      case RunEvent::Kind::kStep:
        row.state = KeyboardRow::State::kUpdating;
        row.done = event->index + 1;
        row.total = event->total;
        break;
      case RunEvent::Kind::kEnd:
        child.sawEnd = true;
        row.state = event->success ? KeyboardRow::State::kSucceeded : KeyboardRow::State::kFailed;
        row.reason = event->reason;
        break;
    }
    Redraw();
  }

  void Reap(size_t i) {
    Child& child = children_[i];
    int status = 0;
    while (::waitpid(child.process.pid, &status, 0) < 0 && errno == EINTR) {
    }
    child.reaped = true;
    child.outputFailed = WIFEXITED(status) && WEXITSTATUS(status) == kExitOutputFailed;
    if (child.sawEnd) return;
    // Ended without saying how: its last words, or how it ended.
    std::string reason = child.lastErrorLine;
    if (WIFSIGNALED(status)) {
      reason = "Stopped by signal " + std::to_string(WTERMSIG(status)) + " (" +
               ::strsignal(WTERMSIG(status)) + ")";
    } else if (reason.empty()) {
      reason = "Ended with exit status " + std::to_string(WEXITSTATUS(status));
    }
    Finish(i, reason);
  }

  // The end of a keyboard that sent no end event: failed, with `reason`.
  void Finish(size_t i, const std::string& reason) {
    KeyboardRow& row = rows_[i];
    row.state = KeyboardRow::State::kFailed;
    row.reason = reason;
    RunEvent end;
    end.kind = RunEvent::Kind::kEnd;
    end.reason = reason;
    reporter_.KeyboardEvent(row.name, end, "");
    Redraw();
  }

  void Redraw() { reporter_.KeyboardRows(rows_); }

  const ParallelFlashPlan& plan_;
  std::vector<KeyboardRow> rows_;
  std::vector<Child> children_;
  Reporter& reporter_;
  int epoll_ = -1;
  int watched_ = 0;  // children's streams still open
};

}  // namespace

int FlashInParallel(const ParallelFlashPlan& plan) {
  return Runner(plan).Run();
}

}  // namespace vortan::cli
