// SPDX-License-Identifier: Apache-2.0
#include "updaters/ax_update.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <utility>

#include "updaters/loader_commands.h"
#include "util/bulk_buffer.h"
#include "util/checksums.h"
#include "util/regular_file.h"

namespace vortan {
namespace {

// The work files were written from a package of bounded size and are compared with it after
// reading, so no cap of their own is needed here.
constexpr uint64_t kNoCap = UINT64_MAX;

// After a failed read: lack of memory is no fault of the package, so it leaves Load as any
// allocation of the updaters would, for the package to tell it apart from a refusal.
bool NoMemoryOrFalse() {
  if (errno == ENOMEM) throw std::bad_alloc();
  return false;
}

}  // namespace

AXUpdate::AXUpdate(std::string cnfgPath_, std::string dataPath_)
    : cnfgPath(std::move(cnfgPath_)),
      dataPath(std::move(dataPath_)),
      device(&HidDevice::Instance()) {}

AXUpdate::~AXUpdate() = default;

bool AXUpdate::Load() {
  return false;
}
bool AXUpdate::CheckSettings() {
  return false;
}
bool AXUpdate::PrepareSteps() {
  return false;
}
bool AXUpdate::RunStep(int) {
  return true;
}
std::vector<PlannedRegion> AXUpdate::PlannedRegions() const {
  return {};
}

FlashGeometry AXUpdate::Geometry() const {
  return {};
}

bool AXUpdate::FinalStep(int) {
  return true;
}

bool AXUpdate::EnterUpdateMode(int attempts) {
  return RequestUpdateMode(attempts) > 0;
}

int AXUpdate::RequestUpdateMode(int attempts) {
  if (!device->EnsureOpen()) return 0;
  const auto request = EncodeUpdateModeRequest(familyCode);
  for (int tried = 1; tried <= attempts; ++tried) {
    uint8_t reply[1] = {0};
    if (Exchange(request, reply) && reply[0] == kAccepted) return tried;
  }
  return 0;
}

bool AXUpdate::SendMessage(const uint8_t* data, uint32_t length) {
  return device->SendMessage(data, length);
}

bool AXUpdate::ReceiveMessage(uint8_t* buffer, uint32_t capacity, uint32_t* received) {
  return device->ReceiveMessage(buffer, capacity, received);
}

bool AXUpdate::ReceiveExact(std::span<uint8_t> reply) {
  std::fill(reply.begin(), reply.end(), 0);
  uint32_t received = 0;
  if (!ReceiveMessage(reply.data(), static_cast<uint32_t>(reply.size()), &received)) return false;
  return received == reply.size();
}

bool AXUpdate::Exchange(std::span<const uint8_t> request, std::span<uint8_t> reply) {
  std::fill(reply.begin(), reply.end(), 0);
  if (!SendMessage(request.data(), static_cast<uint32_t>(request.size()))) return false;
  return ReceiveExact(reply);
}

bool AXUpdate::CheckRegion(uint32_t address, uint32_t length, uint16_t expected) {
  const auto request = EncodeRegionCheck(address, length);
  uint8_t reply[kRegionCheckReplySize];
  if (!Exchange(request, reply)) return false;
  if (!std::equal(request.begin(), request.begin() + 9, reply)) return false;
  return static_cast<uint16_t>(reply[9] | (reply[10] << 8)) == expected;
}

bool AXUpdate::FinishUpdate(bool success) {
  if (!device->EnsureOpen()) return false;
  const auto request = EncodeFinish(success);
  uint8_t reply[4];
  const bool outcome =
      Exchange(request, reply) && std::equal(request.begin(), request.end(), reply);
  device->Close();
  return outcome;
}

uint16_t AXUpdate::ImageChecksum() const {
  if (imageData.empty() || imageLength < 2) return 0;
  // imageLength is the family's to set; never sum past the bytes actually held.
  const size_t length = std::min(static_cast<size_t>(imageLength), imageData.size());
  return WordSum16(imageData.data(), length);
}

uint16_t AXUpdate::WordChecksum(const uint8_t* data, int32_t length) {
  if (length < 1 || !data) return 0;
  return WordSum16(data, static_cast<size_t>(length));
}

uint16_t AXUpdate::ByteChecksum(const uint8_t* data, int32_t length) {
  if (length < 1 || !data) return 0;
  return static_cast<uint16_t>(ByteSum32(data, static_cast<size_t>(length)));
}

bool AXUpdate::ReadDescriptionFile() {
  ByteBuffer bytes;
  if (!ReadRegularFile(cnfgPath, kNoCap, bytes, SymlinkPolicy::kRefuse)) return NoMemoryOrFalse();
  descriptionBytes = std::move(bytes);
  return true;
}

bool AXUpdate::ReadImageFile() {
  ByteBuffer bytes;
  if (!ReadRegularFile(dataPath, kNoCap, bytes, SymlinkPolicy::kRefuse)) return NoMemoryOrFalse();
  if (bytes.empty()) return false;
  imageData = std::move(bytes);
  imageLength = static_cast<int64_t>(imageData.size());
  return true;
}

}  // namespace vortan
