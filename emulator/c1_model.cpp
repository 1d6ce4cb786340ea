// SPDX-License-Identifier: Apache-2.0
#include "emulator/c1_model.h"

#include <algorithm>

#include "util/byte_order.h"
#include "util/checksums.h"

namespace vortan::emu {
namespace {

// Status bytes of this model for commands it refuses; any value the host does not accept.
constexpr uint8_t kModelRefused = 0xEE;

Handled Reply(std::string kind, Bytes reply) {
  return Handled{std::move(kind), {std::move(reply)}};
}

// The command echoed with its first byte replaced, which no host comparison accepts.
Bytes RefusedEcho(const Bytes& m) {
  Bytes r = m;
  r[0] = kModelRefused;
  return r;
}

}  // namespace

C1Model::C1Model(C1ModelConfig config) : config_(config) {}

void C1Model::OnUpdateMode() {
  sectorSize_ = 0;
  pendingErase_.reset();
  pendingWrite_.reset();
}

std::optional<Handled> C1Model::OnMessage(const Bytes& m) {
  // The message header carries its total length, so a message of another length than the
  // announced chunk is no chunk: the host gave the chunk up, and this is its next command.
  if (pendingWrite_ && m.size() == pendingWrite_->length) return Data(m);
  pendingWrite_.reset();
  if (m.empty()) return std::nullopt;
  switch (m[0]) {
    case 0x0B:
      if (m.size() == 7) return Setup(m);
      break;
    case 0x02:
      if (m.size() == 5) return Erase(m);
      break;
    case 0x03:
      if (m.size() == 5) return Poll(m);
      break;
    case 0x07:
      if (m.size() == 12) return Write(m);
      break;
  }
  return std::nullopt;
}

Handled C1Model::Setup(const Bytes& m) {
  spiNumber_ = m[1];
  chipSelect_ = m[2];
  lineMode_ = m[3];
  sectorSize_ = m[4] | (m[5] << 8) | (m[6] << 16);
  Bytes r(5);
  r[0] = 0xF1;
  PutU32(&r[1], config_.capacity);
  return Reply("c1.setup", std::move(r));
}

Handled C1Model::Erase(const Bytes& m) {
  const uint32_t address = GetU32(&m[1]);
  if (sectorSize_ == 0 || address % sectorSize_ != 0 || !InFlash(address, sectorSize_)) {
    return Reply("c1.erase", RefusedEcho(m));
  }
  pendingErase_ = PendingErase{address, config_.busyPolls};
  return Reply("c1.erase", m);
}

Handled C1Model::Poll(const Bytes& m) {
  Bytes r(7);
  std::copy(m.begin(), m.end(), r.begin());
  uint16_t status = 0xFFFF;  // idle reads as finished
  if (pendingErase_ && pendingErase_->busyLeft > 0) {
    --pendingErase_->busyLeft;
    status = 0x0000;
  } else if (pendingErase_) {
    std::fill_n(Touch(pendingErase_->address, sectorSize_), sectorSize_, 0xFF);
    pendingErase_.reset();
    ++erasesCompleted_;
  }
  PutU16(&r[5], status);
  return Reply("c1.erase_poll", std::move(r));
}

Handled C1Model::Write(const Bytes& m) {
  const uint32_t address = GetU32(&m[1]);
  const uint32_t length = GetU32(&m[5]);
  if (length == 0 || !InFlash(address, length)) return Reply("c1.write", RefusedEcho(m));
  pendingWrite_ = PendingWrite{address, length, GetU16(&m[9])};
  return Reply("c1.write", m);
}

Handled C1Model::Data(const Bytes& m) {
  const PendingWrite w = *pendingWrite_;
  pendingWrite_.reset();
  if (static_cast<uint16_t>(ByteSum32(m.data(), m.size())) != w.checksum) {
    return Reply("c1.data", {kModelRefused});
  }
  uint8_t* cells = Touch(w.address, w.length);
  for (uint32_t i = 0; i < w.length; ++i) cells[i] &= m[i];  // programming only clears bits
  return Reply("c1.data", {0xF4});
}

bool C1Model::InFlash(uint64_t address, uint64_t length) const {
  return address + length <= config_.capacity;
}

uint8_t C1Model::At(uint64_t address) const {
  return address < memory_.size() ? memory_[address] : config_.initialFill;
}

uint8_t* C1Model::Touch(uint32_t address, uint32_t length) {
  const uint64_t end = static_cast<uint64_t>(address) + length;
  if (end > memory_.size()) memory_.resize(end, config_.initialFill);
  return memory_.data() + address;
}

uint16_t C1Model::RegionChecksum(uint32_t address, uint32_t length) const {
  return ByteRegionChecksum([this](uint64_t a) { return At(a); }, address, length);
}

Bytes C1Model::Read(uint64_t address, uint32_t length) const {
  return ReadByteRegion([this](uint64_t a) { return At(a); }, address, length);
}

}  // namespace vortan::emu
