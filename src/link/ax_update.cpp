#include "link/ax_update.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "config/bulk_buffer.h"
#include "link/checksums.h"
#include "link/loader_commands.h"

namespace vortan {
namespace {

bool SizeFor(std::string& out, size_t size) {
  try {
    out.assign(size, '\0');
  } catch (const std::exception&) {  // too large to hold: a failed read, not a crash
    return false;
  }
  return true;
}

// The image goes straight into the vector the updater keeps: no second copy of it is made.
bool SizeFor(ByteBuffer& out, size_t size) {
  return SizeForWholeRead(out, size);
}

// Reads a whole regular file into `out`; false on any error or short read. O_NONBLOCK keeps the
// open from waiting on a FIFO put in a work file's place; the type check then refuses it.
template <typename Container>
bool ReadWholeFile(const std::string& path, Container& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && SizeFor(out, static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (ok && done < out.size()) {
    ssize_t n = ::read(fd, reinterpret_cast<char*>(out.data()) + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
    } else {
      done += static_cast<size_t>(n);
    }
  }
  ::close(fd);
  return ok;
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
bool AXUpdate::FinalStep(int) {
  return true;
}

bool AXUpdate::EnterUpdateMode(int attempts) {
  if (!device->EnsureOpen()) return false;
  const auto request = EncodeUpdateModeRequest(familyCode);
  if (attempts < 1) return false;
  for (int i = 0; i < attempts; ++i) {
    uint8_t reply[1] = {0};
    if (Exchange(request, reply) && reply[0] == kAccepted) return true;
  }
  return false;
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
  return ReadWholeFile(cnfgPath, descriptionBytes);
}

bool AXUpdate::ReadImageFile() {
  ByteBuffer bytes;
  if (!ReadWholeFile(dataPath, bytes) || bytes.empty()) return false;
  imageData = std::move(bytes);
  imageLength = static_cast<int64_t>(imageData.size());
  return true;
}

}  // namespace vortan
