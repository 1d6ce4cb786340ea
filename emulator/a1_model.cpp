// SPDX-License-Identifier: Apache-2.0
#include "emulator/a1_model.h"

#include <algorithm>

#include "util/byte_order.h"
#include "util/checksums.h"

namespace vortan::emu {
namespace {

constexpr uint32_t kPieceSize = 64;
// Answer of this model to a block it refuses; any value the host does not accept.
constexpr uint8_t kModelRefused = 0xEE;

}  // namespace

A1Model::A1Model(A1ModelConfig config) : config_(config) {}

std::optional<Handled> A1Model::OnMessage(const Bytes& m) {
  if (pending_) return Piece(m);
  if (m.size() == 12 && m[0] == 0x07) return Write(m);
  return std::nullopt;
}

Handled A1Model::Write(const Bytes& m) {
  const uint32_t offset = GetU32(&m[1]);
  const uint32_t announced = GetU16(&m[5]);
  const uint32_t length = announced == 0 ? 0x10000 : announced;  // the 16-bit field wraps 65536
  const uint64_t end = static_cast<uint64_t>(config_.startAddress) + offset + length;
  const bool tailZero = m[9] == 0 && m[10] == 0 && m[11] == 0;
  Bytes echo = m;
  if (!tailZero || end > config_.chipSize) {
    echo[0] = kModelRefused;
  } else {
    pending_ = PendingBlock{offset, length, GetU16(&m[7]), {}};
  }
  return Handled{"a1.write", {std::move(echo)}};
}

std::optional<Handled> A1Model::Piece(const Bytes& m) {
  PendingBlock& b = *pending_;
  const size_t expected = std::min<size_t>(kPieceSize, b.length - b.received.size());
  if (m.size() != expected) {
    // Not a piece of the announced block: the block is abandoned and the message is left to the
    // loader as a command (the host's finish after a failed write).
    pending_.reset();
    return std::nullopt;
  }
  b.received.insert(b.received.end(), m.begin(), m.end());
  if (b.received.size() < b.length) return Handled{"a1.data", {}};

  const PendingBlock done = std::move(b);
  pending_.reset();
  if (static_cast<uint16_t>(ByteSum32(done.received.data(), done.received.size())) !=
      done.checksum) {
    return Handled{"a1.data", {{kModelRefused}}};
  }
  const size_t end = static_cast<size_t>(done.offset) + done.length;
  if (end > memory_.size()) memory_.resize(end, config_.initialFill);
  std::copy(done.received.begin(), done.received.end(), memory_.begin() + done.offset);
  ++blocksStored_;
  return Handled{"a1.data", {{0xF4}, {0xD4}}};
}

uint8_t A1Model::At(uint64_t address) const {
  if (address < config_.startAddress) return config_.initialFill;
  const uint64_t offset = address - config_.startAddress;
  return offset < memory_.size() ? memory_[offset] : config_.initialFill;
}

uint16_t A1Model::RegionChecksum(uint32_t address, uint32_t length) const {
  return ByteRegionChecksum([this](uint64_t a) { return At(a); }, address, length);
}

Bytes A1Model::Read(uint64_t address, uint32_t length) const {
  return ReadByteRegion([this](uint64_t a) { return At(a); }, address, length);
}

}  // namespace vortan::emu
