// SPDX-License-Identifier: Apache-2.0
// Drives HidDevice::ReceiveMessage with arbitrary reply report sequences and capacities.
// Input: capacity (3 bytes, little-endian, below 2^18), then reads: a control byte c, where
// 0xFF is a read failure, 0xFE a time-out, and otherwise c % 65 bytes of the input follow as
// the report. The reply buffer is exactly `capacity` bytes on the heap, so any write past it is
// caught; the outcome is checked against the framing rules.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/hid_backend.h"
#include "link/hid_device.h"
#include "util/clock.h"

namespace {

using vortan::HidBackend;

class FuzzBackend final : public HidBackend {
 public:
  FuzzBackend(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int reports = 0;  // reports delivered
  int CountDevices(uint16_t, uint16_t) override { return 1; }
  Handle Open(uint16_t, uint16_t) override { return &token_; }
  int Write(Handle, const uint8_t*, size_t length) override { return static_cast<int>(length); }
  int Read(Handle, uint8_t* out, size_t length, int) override {
    if (pos_ >= size_) return -1;
    const uint8_t c = data_[pos_++];
    if (c == 0xFF) return -1;
    if (c == 0xFE) return 0;
    size_t n = std::min<size_t>({c % 65u, size_ - pos_, length});
    std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    ++reports;
    return static_cast<int>(n);
  }
  void Close(Handle) override {}
  void Exit() override {}
  std::string OpenError() override { return {}; }
  bool OpenDeniedPermission() override { return false; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  int token_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static vortan::VirtualClock clock;
  vortan::SetProcessClock(&clock);
  const uint32_t capacity = (data[0] | data[1] << 8 | data[2] << 16) & 0x3FFFF;
  auto backend = std::make_shared<FuzzBackend>(data + 3, size - 3);
  vortan::HidDevice::UseBackend(backend);
  vortan::HidDevice& link = vortan::HidDevice::Instance();
  if (!link.EnsureOpen()) __builtin_trap();
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]);
  uint32_t received = 0;
  const bool ok = link.ReceiveMessage(buffer.get(), capacity, &received);
  // Whatever arrives, the reply fits the buffer, success means bytes, and every report carries
  // at most 55 of them.
  if (received > capacity || (ok && received == 0)) __builtin_trap();
  if (received > 55u * static_cast<uint32_t>(backend->reports)) __builtin_trap();
  link.Close();
  vortan::HidDevice::UseBackend(nullptr);
  return 0;
}
