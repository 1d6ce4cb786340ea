// SPDX-License-Identifier: Apache-2.0
#include "link/tracing_backend.h"

#include <algorithm>
#include <utility>

namespace vortan {

std::string ReportTraceLine(const char* direction, const uint8_t* data, size_t length) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string line(direction);
  line.reserve(line.size() + 3 * length);
  for (size_t i = 0; i < length; ++i) {
    line += ' ';
    line += kDigits[data[i] >> 4];
    line += kDigits[data[i] & 0x0F];
  }
  return line;
}

TracingBackend::TracingBackend(std::shared_ptr<HidBackend> inner, Sink sink)
    : inner_(std::move(inner)), sink_(std::move(sink)) {}

int TracingBackend::CountDevices(uint16_t vid, uint16_t pid) {
  return inner_->CountDevices(vid, pid);
}

HidBackend::Handle TracingBackend::Open(uint16_t vid, uint16_t pid) {
  return inner_->Open(vid, pid);
}

LockResult TracingBackend::Lock(uint16_t vid, uint16_t pid) {
  return inner_->Lock(vid, pid);
}

void TracingBackend::Unlock() {
  inner_->Unlock();
}

LockResult TracingBackend::LockPath(const std::string& path) {
  return inner_->LockPath(path);
}

std::vector<HidDeviceInfo> TracingBackend::Enumerate(uint16_t vid, uint16_t pid) {
  return inner_->Enumerate(vid, pid);
}

HidBackend::Handle TracingBackend::OpenPath(const std::string& path) {
  return inner_->OpenPath(path);
}

int TracingBackend::Write(Handle handle, const uint8_t* data, size_t length) {
  if (data) Record("H>D", data, length);
  return inner_->Write(handle, data, length);
}

int TracingBackend::Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) {
  const int got = inner_->Read(handle, data, length, timeout_ms);
  if (got > 0) Record("D>H", data, std::min(static_cast<size_t>(got), length));
  return got;
}

void TracingBackend::Close(Handle handle) {
  inner_->Close(handle);
}

void TracingBackend::Exit() {
  inner_->Exit();
}

std::string TracingBackend::OpenError() {
  return inner_->OpenError();
}

bool TracingBackend::OpenDeniedPermission() {
  return inner_->OpenDeniedPermission();
}

void TracingBackend::Record(const char* direction, const uint8_t* data, size_t length) {
  if (!sink_) return;
  const std::string line = ReportTraceLine(direction, data, length);
  std::lock_guard lock(mutex_);
  sink_(line);
}

}  // namespace vortan
