// SPDX-License-Identifier: Apache-2.0
#include "link/hid_device.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "util/byte_order.h"

namespace vortan {
namespace {

// Process-wide state of the link. Only one thread uses the link at a time (the main thread
// between runs, the update thread during one, while the window's buttons are disabled), so
// nothing here is locked.
struct LinkState {
  std::shared_ptr<HidBackend> backend;
  HidBackend::Handle handle = nullptr;
  bool open = false;
  uint32_t vid = 0;
  uint32_t pid = 0x1234;
  uint8_t reportBuffer[HidDevice::kReportSize] = {};
  std::string lastOpenError;
  bool lastOpenDenied = false;
  bool lastOpenBusy = false;
  bool claimed = false;
  std::atomic<bool> cutOff{false};
  std::string selectedPath;
};

LinkState& State() {
  static LinkState state;
  return state;
}

uint16_t Low16(uint32_t v) {
  return static_cast<uint16_t>(v & 0xFFFF);
}

}  // namespace

HidDevice& HidDevice::Instance() {
  static HidDevice* instance = new HidDevice();  // never destroyed, as the link outlives windows
  return *instance;
}

void HidDevice::UseBackend(std::shared_ptr<HidBackend> backend) {
  LinkState& s = State();
  s.backend = std::move(backend);
  s.handle = nullptr;
  s.open = false;
  s.claimed = false;
  s.cutOff = false;
}

void HidDevice::CutOff() {
  State().cutOff = true;
}

HidBackend* HidDevice::Backend() {
  return State().backend.get();
}

void HidDevice::SetIds(uint32_t vid, uint32_t pid) {
  State().vid = vid;
  State().pid = pid;
}

uint32_t HidDevice::Vid() {
  return State().vid;
}
uint32_t HidDevice::Pid() {
  return State().pid;
}

void HidDevice::SelectPath(std::string path) {
  State().selectedPath = std::move(path);
}

const std::string& HidDevice::SelectedPath() {
  return State().selectedPath;
}

int HidDevice::CountDevices() {
  LinkState& s = State();
  if (!s.backend) return 0;
  if (s.selectedPath.empty()) return s.backend->CountDevices(Low16(s.vid), Low16(s.pid));
  int count = 0;
  for (const HidDeviceInfo& info : ListDevices()) count += info.path == s.selectedPath;
  return count;
}

int HidDevice::ChangeDescriptor() {
  LinkState& s = State();
  return s.backend ? s.backend->ChangeDescriptor() : -1;
}

void HidDevice::DrainChanges() {
  if (LinkState& s = State(); s.backend) s.backend->DrainChanges();
}

std::vector<HidDeviceInfo> HidDevice::ListDevices() {
  LinkState& s = State();
  if (!s.backend) return {};
  // hidapi lists an interface once per top-level collection of its report descriptor, all with
  // one path; a path is one keyboard to open, lock and update.
  std::vector<HidDeviceInfo> keyboards;
  for (HidDeviceInfo& entry : s.backend->Enumerate(Low16(s.vid), Low16(s.pid))) {
    const bool listed =
        std::any_of(keyboards.begin(), keyboards.end(),
                    [&entry](const HidDeviceInfo& k) { return k.path == entry.path; });
    if (!listed) keyboards.push_back(std::move(entry));
  }
  return keyboards;
}

bool HidDevice::EnsureOpen() {
  if (State().open) return true;
  if (CountDevices() != 1) return false;
  return Open();
}

bool HidDevice::Claim() {
  LinkState& s = State();
  if (s.claimed) return true;
  if (!s.backend) return false;
  const LockResult lock = s.selectedPath.empty() ? s.backend->Lock(Low16(s.vid), Low16(s.pid))
                                                 : s.backend->LockPath(s.selectedPath);
  s.lastOpenBusy = lock == LockResult::kBusy;
  // Fails closed: a lock that cannot be taken protects nothing, so the run does not start.
  if (lock == LockResult::kBusy || lock == LockResult::kFailed) {
    s.lastOpenError = s.lastOpenBusy ? kTextUpdateRunningElsewhere : s.backend->OpenError();
    if (s.lastOpenError.empty()) s.lastOpenError = "the update lock cannot be taken";
    s.lastOpenDenied = !s.lastOpenBusy && s.backend->OpenDeniedPermission();
    return false;
  }
  s.claimed = lock == LockResult::kTaken;
  return true;
}

bool HidDevice::Open() {
  LinkState& s = State();
  if (s.handle) return true;
  if (!s.backend || s.cutOff) return false;
  if (!Claim()) return false;
  s.handle = s.selectedPath.empty() ? s.backend->Open(Low16(s.vid), Low16(s.pid))
                                    : s.backend->OpenPath(s.selectedPath);
  if (!s.handle) {
    s.lastOpenError = s.backend->OpenError();
    s.lastOpenDenied = s.backend->OpenDeniedPermission();
    return false;
  }
  s.lastOpenError.clear();
  s.lastOpenDenied = false;
  s.open = true;
  return true;
}

void HidDevice::Close() {
  LinkState& s = State();
  if (s.backend) {
    if (s.handle) s.backend->Close(s.handle);
    s.backend->Exit();
    if (s.claimed) s.backend->Unlock();
  }
  s.claimed = false;
  s.handle = nullptr;
  s.open = false;
}

bool HidDevice::IsOpen() const {
  return State().open;
}
std::string HidDevice::LastOpenError() const {
  return State().lastOpenError;
}
bool HidDevice::LastOpenDeniedPermission() const {
  return State().lastOpenDenied;
}
bool HidDevice::LastOpenBusy() const {
  return State().lastOpenBusy;
}

bool HidDevice::SendMessage(const uint8_t* data, uint32_t length) {
  LinkState& s = State();
  if (length == 0 || !s.backend || !s.handle) return false;
  uint8_t* report = s.reportBuffer;
  uint32_t offset = 0;
  while (offset < length) {
    const uint32_t chunk = std::min<uint32_t>(length - offset, kPayloadSize);
    report[0] = kReportTag;
    PutU32(report + 1, length);
    PutU32(report + 5, offset);
    std::memcpy(report + kHeaderSize, data + offset, chunk);
    std::memset(report + kHeaderSize + chunk, 0, kPayloadSize - chunk);
    if (s.cutOff || s.backend->Write(s.handle, report, kReportSize) < 0) return false;
    offset += chunk;
  }
  return true;
}

bool HidDevice::ReceiveMessage(uint8_t* buffer, uint32_t capacity, uint32_t* received_out) {
  LinkState& s = State();
  if (received_out) *received_out = 0;
  if (!s.backend || !s.handle || s.cutOff) return false;
  uint8_t* report = s.reportBuffer;
  // A timed-out read (0) is a failure too: the buffer would still hold our own request.
  int got = s.backend->Read(s.handle, report, kReportSize, kReplyTimeoutMs);
  if (got <= 0) return false;
  got = std::min(got, kReportSize);
  uint32_t received = 0;
  for (;;) {
    bool ok = got >= kHeaderSize;
    uint32_t chunk = 0;
    uint32_t total = 0;
    if (ok) {
      const uint32_t offset = GetU32(report + 1);
      total = GetU32(report + 5);
      ok = offset == received && static_cast<int32_t>(total) >= static_cast<int32_t>(offset);
      if (ok) {
        chunk = std::min<uint32_t>(total - received, kPayloadSize);
        ok = static_cast<uint64_t>(received) + chunk <= capacity &&
             static_cast<uint32_t>(got) >= kHeaderSize + chunk;
      }
    }
    if (!ok) {
      // A bad first report is a failure; a bad later one ends the message with what we have.
      if (received_out) *received_out = received;
      return received > 0;
    }
    if (chunk) std::memcpy(buffer + received, report + kHeaderSize, chunk);
    received += chunk;
    if (received == total) {
      if (received_out) *received_out = received;
      return total > 0;
    }
    got = s.cutOff ? -1 : s.backend->Read(s.handle, report, kReportSize, kReplyTimeoutMs);
    if (got <= 0) {
      if (received_out) *received_out = received;
      return false;
    }
    got = std::min(got, kReportSize);
  }
}

}  // namespace vortan
