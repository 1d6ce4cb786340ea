// SPDX-License-Identifier: Apache-2.0
#include "emulator/a2_model.h"

#include <algorithm>

#include "util/byte_order.h"

namespace vortan::emu {
namespace {

uint16_t DefaultContent(uint32_t address) {
  // Old firmware: anything but blank, different from word to word.
  return static_cast<uint16_t>((address * 0x9E37u) ^ 0x5A5Au) & 0x7FFF;
}

uint16_t WordSum(const uint8_t* data, size_t bytes) {
  uint16_t sum = 0;
  for (size_t i = 0; i + 1 < bytes; i += 2) sum = static_cast<uint16_t>(sum + GetU16(data + i));
  return sum;
}

}  // namespace

A2Model::A2Model(A2ModelConfig config) : config_(std::move(config)) {
  if (!config_.initialContent) config_.initialContent = DefaultContent;
}

void A2Model::OnUpdateMode() {
  eraseCyclesInRow_ = 0;
  busyLeft_ = 0;
  lastWasPoll_ = false;
  wordProgramming_ = writeBufferSet_ = programBufferSet_ = false;
  pendingWrite_.reset();
}

int A2Model::SectorOf(uint32_t address) const {
  const auto& starts = config_.sectorAddresses;
  if (starts.size() < 2 || address < starts.front()) return -1;
  const auto next = std::upper_bound(starts.begin(), starts.end(), address);
  const int index = static_cast<int>(next - starts.begin()) - 1;
  if (next == starts.end()) {
    const uint64_t lastSize = uint64_t{starts.back()} - starts[starts.size() - 2];
    if (address - uint64_t{starts.back()} >= lastSize) return -1;
  }
  return index;
}

uint32_t A2Model::SectorWords(int index) const {
  const auto& starts = config_.sectorAddresses;
  const size_t i = static_cast<size_t>(index);
  return i + 1 < starts.size() ? starts[i + 1] - starts[i] : starts[i] - starts[i - 1];
}

std::vector<uint16_t>& A2Model::Sector(int index) {
  auto it = sectors_.find(index);
  if (it != sectors_.end()) return it->second;
  const uint32_t first = config_.sectorAddresses[static_cast<size_t>(index)];
  const uint32_t size = SectorWords(index);
  std::vector<uint16_t> words(size);
  for (uint32_t k = 0; k < size; ++k) words[k] = config_.initialContent(first + k);
  return sectors_.emplace(index, std::move(words)).first->second;
}

uint16_t A2Model::Word(uint32_t address) const {
  const int sector = SectorOf(address);
  if (sector < 0) return 0xFFFF;
  auto it = sectors_.find(sector);
  if (it == sectors_.end()) return config_.initialContent(address);
  return it->second[address - config_.sectorAddresses[static_cast<size_t>(sector)]];
}

template <typename Visit>
void A2Model::ForEachWord(uint32_t address, uint32_t count, Visit visit) const {
  // A sector at a time: looking each word's sector up costs more than the work on the word.
  for (uint32_t k = 0; k < count;) {
    const uint32_t a = address + k;
    const int sector = SectorOf(a);
    if (sector < 0) {
      visit(uint16_t{0xFFFF});
      ++k;
      continue;
    }
    const uint32_t start = config_.sectorAddresses[static_cast<size_t>(sector)];
    const uint32_t run = static_cast<uint32_t>(
        std::min<uint64_t>(count - k, uint64_t{start} + SectorWords(sector) - a));
    const auto it = sectors_.find(sector);
    for (uint32_t i = 0; i < run; ++i) {
      visit(it == sectors_.end() ? config_.initialContent(a + i) : it->second[a - start + i]);
    }
    k += run;
  }
}

std::vector<uint16_t> A2Model::Words(uint32_t address, uint32_t count) const {
  std::vector<uint16_t> words;
  words.reserve(count);
  ForEachWord(address, count, [&](uint16_t w) { words.push_back(w); });
  return words;
}

void A2Model::SetWords(uint32_t address, std::span<const uint16_t> words) {
  for (size_t k = 0; k < words.size(); ++k) {
    const uint32_t a = address + static_cast<uint32_t>(k);
    const int sector = SectorOf(a);
    if (sector < 0) continue;
    Sector(sector)[a - config_.sectorAddresses[static_cast<size_t>(sector)]] = words[k];
  }
}

int A2Model::EraseCount(int sector) const {
  auto it = erases_.find(sector);
  return it == erases_.end() ? 0 : it->second;
}

void A2Model::Erase(int sector) {
  if (sector < 0) return;
  auto& words = Sector(sector);
  std::fill(words.begin(), words.end(), 0xFFFF);
  ++erases_[sector];
  busyLeft_ = config_.busyPolls;
  // Programming cycles must be handed over again for the new contents.
  wordProgramming_ = writeBufferSet_ = programBufferSet_ = false;
}

Handled A2Model::Echo(const char* kind, const Bytes& message) const {
  return {kind, {message}};
}

Handled A2Model::Poll(const Bytes& message) {
  const uint32_t address = GetU32(&message[1]);
  if (config_.eraseCycles == 0 && !lastWasPoll_) Erase(SectorOf(address));
  uint16_t word;
  if (busyLeft_ > 0) {
    // A flash busy erasing answers status bits, never the blank word.
    word = (busyLeft_ & 1) ? 0x0040 : 0x0000;
    --busyLeft_;
  } else {
    word = Word(address);
  }
  Bytes reply(message.begin(), message.begin() + 5);
  reply.resize(7);
  PutU16(&reply[5], word);
  return {"a2.erase_poll", {reply}};
}

Handled A2Model::Data(const Bytes& message) {
  const PendingWrite write = *pendingWrite_;
  pendingWrite_.reset();
  if (message.size() != 2 * size_t{write.words}) return {"a2.data", {{kNotProgrammed}}};
  const bool ready = wordProgramming_ || (writeBufferSet_ && programBufferSet_);
  if (!ready || WordSum(message.data(), message.size()) != write.sum) {
    return {"a2.data", {{kDataReceived}, {kNotProgrammed}}};
  }
  for (uint32_t k = 0; k < write.words;) {
    const uint32_t a = write.address + k;
    const int sector = SectorOf(a);
    if (sector < 0) {
      ++strayWords_;
      ++k;
      continue;
    }
    // The rest of the write that falls in this sector, programmed in one pass.
    const uint32_t start = config_.sectorAddresses[static_cast<size_t>(sector)];
    const uint32_t run = static_cast<uint32_t>(
        std::min<uint64_t>(write.words - k, uint64_t{start} + SectorWords(sector) - a));
    uint16_t* words = Sector(sector).data() + (a - start);
    for (uint32_t i = 0; i < run; ++i) words[i] &= GetU16(&message[2 * size_t{k + i}]);
    k += run;
  }
  return {"a2.data", {{kDataReceived}, {kDataProgrammed}}};
}

std::optional<Handled> A2Model::OnMessage(const Bytes& message) {
  if (pendingWrite_) return Data(message);
  if (message.empty()) return std::nullopt;
  const bool poll = message[0] == 0x03;
  const size_t size = message.size();
  // A well-formed cycle command holds byte 1 / 2 cycles of four bytes after its head.
  const auto cyclesFit = [&](size_t head) { return size >= 2 && size == head + 2 * message[1]; };
  std::optional<Handled> handled;
  switch (message[0]) {
    case 0x02:
      if (size != 7) break;
      handled = Echo("a2.erase_cycle", message);
      eraseLog_.emplace_back(GetU32(&message[1]), GetU16(&message[5]));
      if (++eraseCyclesInRow_ == config_.eraseCycles) {
        eraseCyclesInRow_ = 0;
        Erase(SectorOf(GetU32(&message[1])));
      }
      break;
    case 0x03:
      if (size != 5) break;
      handled = Poll(message);
      break;
    case 0x04:
      handled = Echo("a2.program_cycle", message);
      if (cyclesFit(2)) wordProgramming_ = true;
      break;
    case 0x05:
      handled = Echo("a2.write_buffer_cycle", message);
      if (cyclesFit(7)) writeBufferSet_ = true;
      break;
    case 0x06:
      handled = Echo("a2.program_buffer_cycle", message);
      if (cyclesFit(4)) programBufferSet_ = true;
      break;
    case 0x07: {
      if (size != 12) break;
      const uint16_t count = GetU16(&message[5]);
      pendingWrite_ =
          PendingWrite{GetU32(&message[1]), count == 0 ? 0x10000u : count, GetU16(&message[7])};
      Bytes reply(message.begin(), message.begin() + 9);
      reply.resize(12);
      handled = Handled{"a2.write", {reply}};
      break;
    }
    default:
      break;
  }
  if (!handled) return std::nullopt;
  if (message[0] != 0x02) eraseCyclesInRow_ = 0;
  lastWasPoll_ = poll;
  return handled;
}

uint16_t A2Model::RegionChecksum(uint32_t address, uint32_t length) const {
  uint32_t sum = 0;
  ForEachWord(address, length, [&sum](uint16_t w) { sum += w; });
  return static_cast<uint16_t>(sum);
}

Bytes A2Model::Read(uint64_t address, uint32_t length) const {
  Bytes out(length);
  for (uint32_t i = 0; i < length; ++i) {
    const uint64_t byte = address + i;
    const uint16_t word = Word(static_cast<uint32_t>(byte / 2));
    out[i] = static_cast<uint8_t>(byte % 2 ? word >> 8 : word);
  }
  return out;
}

}  // namespace vortan::emu
