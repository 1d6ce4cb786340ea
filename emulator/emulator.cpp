// SPDX-License-Identifier: Apache-2.0
#include "emulator/emulator.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "link/tracing_backend.h"
#include "util/clock.h"

namespace vortan::emu {

Emulator::Emulator()
    : changeFd_(::epoll_create1(EPOLL_CLOEXEC)),
      announceFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      arrivalFd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
  for (int source : {announceFd_, arrivalFd_}) {
    epoll_event event{};
    event.events = EPOLLIN;
    if (changeFd_ >= 0 && (source < 0 || ::epoll_ctl(changeFd_, EPOLL_CTL_ADD, source, &event))) {
      ::close(changeFd_);
      changeFd_ = -1;
    }
  }
}

Emulator::~Emulator() {
  for (int fd : {changeFd_, announceFd_, arrivalFd_}) {
    if (fd >= 0) ::close(fd);
  }
}

LoaderDevice& Emulator::Attach(uint16_t vid, uint16_t pid, int interfaces) {
  return Attach(std::make_unique<LoaderDevice>(vid, pid, interfaces));
}

LoaderDevice& Emulator::Attach(std::unique_ptr<LoaderDevice> device) {
  LoaderDevice* attached;
  {
    std::lock_guard lock(mutex_);
    devices_.push_back(std::move(device));
    attached = devices_.back().get();
  }
  Announce();
  return *attached;
}

void Emulator::Unplug(size_t index) {
  Device(index).Unplug();
  Announce();
}

void Emulator::SetAnnouncesChanges(bool announces) {
  std::lock_guard lock(mutex_);
  announces_ = announces;
}

int Emulator::ChangeDescriptor() {
  std::lock_guard lock(mutex_);
  return announces_ ? changeFd_ : -1;
}

void Emulator::Announce() {
  const uint64_t one = 1;
  if (announceFd_ >= 0) (void)!::write(announceFd_, &one, sizeof one);
}

void Emulator::DrainChanges() {
  uint64_t count;
  for (int source : {announceFd_, arrivalFd_}) {
    if (source >= 0) (void)!::read(source, &count, sizeof count);
  }
}

size_t Emulator::DeviceCount() const {
  std::lock_guard lock(mutex_);
  return devices_.size();
}

LoaderDevice& Emulator::Device(size_t index) {
  std::lock_guard lock(mutex_);
  return *devices_.at(index);
}

void Emulator::FailOpens(int count, std::string reason, bool denied) {
  std::lock_guard lock(mutex_);
  failOpens_ = std::max(count, 0);
  failReason_ = std::move(reason);
  failDenied_ = denied;
}

int Emulator::OpenHandles() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(handles_.size());
}

int Emulator::ExitCount() const {
  std::lock_guard lock(mutex_);
  return exitCount_;
}

std::vector<std::string> Emulator::Trace() const {
  std::lock_guard lock(mutex_);
  return {trace_.begin(), trace_.end()};
}

void Emulator::ClearTrace() {
  std::lock_guard lock(mutex_);
  trace_.clear();
  traceDropped_ = 0;
}

size_t Emulator::TraceLimit() const {
  std::lock_guard lock(mutex_);
  return traceLimit_;
}

void Emulator::SetTraceLimit(size_t lines) {
  std::lock_guard lock(mutex_);
  traceLimit_ = lines;
  while (trace_.size() > traceLimit_) {
    trace_.pop_front();
    ++traceDropped_;
  }
}

size_t Emulator::TraceDropped() const {
  std::lock_guard lock(mutex_);
  return traceDropped_;
}

void Emulator::SetTraceSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void Emulator::HideDevicesUntil(std::chrono::milliseconds time) {
  std::lock_guard lock(mutex_);
  hiddenUntil_ = time;
  const std::chrono::milliseconds wait = time - ProcessClock().Now();
  if (wait.count() <= 0 || arrivalFd_ < 0) return;
  itimerspec arrival{};
  arrival.it_value.tv_sec = wait.count() / 1000;
  arrival.it_value.tv_nsec = (wait.count() % 1000) * 1000000;
  ::timerfd_settime(arrivalFd_, 0, &arrival, nullptr);
}

bool Emulator::Matches(const LoaderDevice& d, uint16_t vid, uint16_t pid) const {
  return !d.Unplugged() && ProcessClock().Now() >= hiddenUntil_ && (vid == 0 || d.Vid() == vid) &&
         (pid == 0 || d.Pid() == pid);
}

int Emulator::CountDevices(uint16_t vid, uint16_t pid) {
  std::lock_guard lock(mutex_);
  int count = 0;
  for (const auto& d : devices_) {
    if (Matches(*d, vid, pid)) count += d->Interfaces();
  }
  return count;
}

std::string Emulator::PathOf(size_t device, int interface) {
  std::string path = "sim:hidraw" + std::to_string(device);
  if (interface > 0) path.append(".").append(std::to_string(interface));
  return path;
}

std::string Emulator::SerialOf(size_t device) {
  // At least four digits, and every digit of any index: no serial is ever cut short.
  const std::string digits = std::to_string(device);
  return "SIM" + std::string(digits.size() < 4 ? 4 - digits.size() : 0, '0') + digits;
}

std::vector<HidDeviceInfo> Emulator::Enumerate(uint16_t vid, uint16_t pid) {
  std::lock_guard lock(mutex_);
  std::vector<HidDeviceInfo> entries;
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (!Matches(*devices_[i], vid, pid)) continue;
    for (int interface = 0; interface < devices_[i]->Interfaces(); ++interface) {
      entries.push_back(
          {PathOf(i, interface), SerialOf(i), "VORTAN", "Emulated keyboard loader", interface});
    }
  }
  return entries;
}

HidBackend::Handle Emulator::Open(uint16_t vid, uint16_t pid) {
  std::lock_guard lock(mutex_);
  for (const auto& d : devices_) {
    if (Matches(*d, vid, pid)) return OpenLocked(d.get());
  }
  return OpenLocked(nullptr);
}

HidBackend::Handle Emulator::OpenPath(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < devices_.size(); ++i) {
    // A path opens whatever IDs the device has, but only a device that is listed.
    if (!Matches(*devices_[i], 0, 0)) continue;
    for (int interface = 0; interface < devices_[i]->Interfaces(); ++interface) {
      if (PathOf(i, interface) == path) return OpenLocked(devices_[i].get());
    }
  }
  return OpenLocked(nullptr);
}

HidBackend::Handle Emulator::OpenLocked(LoaderDevice* device) {
  openError_.clear();
  openDenied_ = false;
  if (failOpens_ > 0) {
    --failOpens_;
    openError_ = failReason_;
    openDenied_ = failDenied_;
    return nullptr;
  }
  if (!device) {
    openError_ = "no matching device";
    return nullptr;
  }
  auto open = std::make_unique<OpenDevice>(OpenDevice{device});
  Handle handle = open.get();
  handles_.emplace(handle, std::move(open));
  return handle;
}

void Emulator::SetLockFolder(std::string folder) {
  std::lock_guard lock(mutex_);
  lockFolder_ = std::move(folder);
}

LockResult Emulator::Lock(uint16_t vid, uint16_t pid) {
  std::lock_guard lock(mutex_);
  if (lockFolder_.empty()) return LockResult::kNotNeeded;
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (Matches(*devices_[i], vid, pid)) return LockDevice(i);
  }
  return NoDeviceToLock();
}

LockResult Emulator::LockPath(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (lockFolder_.empty()) return LockResult::kNotNeeded;
  for (size_t i = 0; i < devices_.size(); ++i) {
    for (int interface = 0; interface < devices_[i]->Interfaces(); ++interface) {
      if (PathOf(i, interface) == path) return LockDevice(i);
    }
  }
  return NoDeviceToLock();
}

LockResult Emulator::NoDeviceToLock() {
  openError_ = "no matching device";
  openDenied_ = false;
  return LockResult::kFailed;
}

LockResult Emulator::LockDevice(size_t index) {
  const LoaderDevice& d = *devices_[index];
  char name[64];
  std::snprintf(name, sizeof name, "vortan-simulated-%04x-%04x-%zu.lock", d.Vid(), d.Pid(), index);
  const LockResult result = lock_.Take(lockFolder_ + "/" + name, /*create=*/true);
  // A lock file that cannot be taken (a planted link or folder, another user's file) refuses
  // the run; it is no matter of the udev rule.
  if (result == LockResult::kFailed) {
    openError_ = lock_.Error();
    openDenied_ = false;
  }
  return result;
}

void Emulator::Unlock() {
  std::lock_guard lock(mutex_);
  lock_.Release();
}

LoaderDevice* Emulator::Lookup(Handle handle) const {
  const auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : it->second->device;
}

void Emulator::Record(const char* direction, const uint8_t* data, size_t length) {
  // Formatting costs more than the rest of a report's trip; skip it when nobody keeps the line.
  if (traceLimit_ == 0 && !sink_) {
    ++traceDropped_;
    return;
  }
  std::string line = ReportTraceLine(direction, data, length);
  if (sink_) sink_(line);
  if (traceLimit_ == 0) {
    ++traceDropped_;
    return;
  }
  if (trace_.size() >= traceLimit_) {
    trace_.pop_front();
    ++traceDropped_;
  }
  trace_.push_back(std::move(line));
}

void Emulator::HandleArrivals(LoaderDevice& from) {
  // `from` may be anywhere in devices_; it is held by pointer, so growing the vector is safe.
  const uint16_t vid = from.Vid();
  const uint16_t pid = from.Pid();
  for (int n = from.TakeArrivals(); n > 0; --n) {
    devices_.push_back(std::make_unique<LoaderDevice>(vid, pid));
  }
}

int Emulator::Write(Handle handle, const uint8_t* data, size_t length) {
  std::lock_guard lock(mutex_);
  LoaderDevice* device = Lookup(handle);
  if (!device || device->Unplugged() || !data) return -1;
  Record("H>D", data, length);
  if (!device->AcceptReport(data, length)) return -1;
  HandleArrivals(*device);
  return static_cast<int>(length);
}

int Emulator::Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) {
  {
    std::lock_guard lock(mutex_);
    LoaderDevice* device = Lookup(handle);
    if (!device || !data) return -1;
    LoaderDevice::Report report;
    const int got = device->NextReport(report);
    if (got < 0) return -1;
    if (got > 0) {
      const size_t n = std::min(report.length, length);
      std::memcpy(data, report.bytes.data(), n);
      Record("D>H", data, n);
      return static_cast<int>(n);
    }
    if (timeout_ms < 0) return -1;
  }
  ProcessClock().Sleep(std::chrono::milliseconds(timeout_ms));
  return 0;
}

void Emulator::Close(Handle handle) {
  std::lock_guard lock(mutex_);
  if (LoaderDevice* device = Lookup(handle)) device->DropPending();
  handles_.erase(handle);
}

void Emulator::Exit() {
  std::lock_guard lock(mutex_);
  ++exitCount_;
}

std::string Emulator::OpenError() {
  std::lock_guard lock(mutex_);
  return openError_;
}

bool Emulator::OpenDeniedPermission() {
  std::lock_guard lock(mutex_);
  return openDenied_;
}

}  // namespace vortan::emu
