// SPDX-License-Identifier: Apache-2.0
#pragma once
// A HID backend that plays back scripted read results and records every call, so link tests can
// pin exact report bytes without the emulator's own framing code.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "link/hid_backend.h"
#include "util/byte_order.h"
#include "util/clock.h"

namespace vortan::testing {

using Report = std::vector<uint8_t>;

// "51 04 .." -> bytes, then zero-filled up to `size`.
inline Report Hex(const std::string& text, size_t size = 0) {
  Report out;
  std::istringstream in(text);
  std::string byte;
  while (in >> byte) out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  if (out.size() < size) out.resize(size, 0);
  return out;
}

// A device-to-host report: [0] 0, [1..4] offset, [5..8] total, [9..] payload, zero-filled to 64.
inline Report ReplyReport(uint32_t offset, uint32_t total, std::vector<uint8_t> payload) {
  Report r(64, 0);
  PutU32(&r[1], offset);
  PutU32(&r[5], total);
  std::copy_n(payload.begin(), std::min<size_t>(payload.size(), 55), r.begin() + 9);
  return r;
}

class ScriptedBackend final : public HidBackend {
 public:
  // One read: `result` > 0 delivers the first `result` bytes of `bytes` (zero-padded); 0 is a
  // time-out (the wait is slept on the process clock); -1 is a failure.
  struct Step {
    int result;
    Report bytes;
  };
  static Step Deliver(Report r) { return {static_cast<int>(r.size()), std::move(r)}; }
  static Step Cut(Report r, int length) { return {length, std::move(r)}; }
  static Step Timeout() { return {0, {}}; }
  static Step Failure() { return {-1, {}}; }

  int devices = 1;
  bool openFails = false;
  int failWrite = -1;  // index (0-based) of the write that fails
  std::deque<Step> reads;
  std::vector<Report> writes;
  std::vector<std::string> calls;  // "count", "open", "write", "read", "close", "exit"

  int CountDevices(uint16_t, uint16_t) override {
    calls.push_back("count");
    return devices;
  }
  Handle Open(uint16_t, uint16_t) override {
    calls.push_back("open");
    return openFails ? nullptr : &token_;
  }
  int Write(Handle, const uint8_t* data, size_t length) override {
    calls.push_back("write");
    writes.emplace_back(data, data + length);
    return static_cast<int>(writes.size() - 1) == failWrite ? -1 : static_cast<int>(length);
  }
  int Read(Handle, uint8_t* data, size_t length, int timeout_ms) override {
    calls.push_back("read");
    Step r = reads.empty() ? Timeout() : std::move(reads.front());
    if (!reads.empty()) reads.pop_front();
    if (r.result == 0) ProcessClock().Sleep(std::chrono::milliseconds(timeout_ms));
    if (r.result <= 0) return r.result;
    r.bytes.resize(std::max<size_t>(r.bytes.size(), static_cast<size_t>(r.result)), 0);
    const size_t n = std::min(static_cast<size_t>(r.result), length);
    std::memcpy(data, r.bytes.data(), n);
    return static_cast<int>(n);
  }
  void Close(Handle) override { calls.push_back("close"); }
  void Exit() override { calls.push_back("exit"); }
  std::string OpenError() override { return openFails ? "refused" : ""; }
  bool OpenDeniedPermission() override { return false; }

 private:
  int token_ = 0;
};

}  // namespace vortan::testing
