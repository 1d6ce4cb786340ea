// SPDX-License-Identifier: Apache-2.0
#pragma once
// A HidBackend that forwards every call to another one (hidapi or the emulator) and hands each
// report that crosses the link to a sink as one hex line: "H>D 51 04 00 ..." for a report the
// host wrote, "D>H ..." for one it read, with as many bytes as were written or delivered. A
// write is recorded even when it fails (the report was attempted); a read only when it
// delivered bytes. Lines reach the sink in the order of the calls; the sink is called under a
// lock, so it may be used from more than one thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "link/hid_backend.h"

namespace vortan {

class TracingBackend final : public HidBackend {
 public:
  using Sink = std::function<void(const std::string& line)>;

  TracingBackend(std::shared_ptr<HidBackend> inner, Sink sink);

  int CountDevices(uint16_t vid, uint16_t pid) override;
  Handle Open(uint16_t vid, uint16_t pid) override;
  std::vector<HidDeviceInfo> Enumerate(uint16_t vid, uint16_t pid) override;
  Handle OpenPath(const std::string& path) override;
  int Write(Handle handle, const uint8_t* data, size_t length) override;
  int Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) override;
  void Close(Handle handle) override;
  LockResult Lock(uint16_t vid, uint16_t pid) override;
  LockResult LockPath(const std::string& path) override;
  void Unlock() override;
  void Exit() override;
  int ChangeDescriptor() override { return inner_->ChangeDescriptor(); }
  void DrainChanges() override { inner_->DrainChanges(); }
  std::string OpenError() override;
  bool OpenDeniedPermission() override;

 private:
  void Record(const char* direction, const uint8_t* data, size_t length);

  std::shared_ptr<HidBackend> inner_;
  Sink sink_;
  std::mutex mutex_;
};

// `direction` followed by the bytes as space-separated two-digit upper-case hex.
std::string ReportTraceLine(const char* direction, const uint8_t* data, size_t length);

}  // namespace vortan
