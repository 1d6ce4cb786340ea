// SPDX-License-Identifier: Apache-2.0
#pragma once
// Encoders of the loader commands every chip family shares. Each returns the exact request
// bytes; replies are checked by the callers in ax_update.cpp.
#include <array>
#include <cstdint>

namespace vortan {

// 01 0A 4D <family>: asks the loader to enter update mode; the reply 0xF1 accepts.
std::array<uint8_t, 4> EncodeUpdateModeRequest(uint32_t familyCode);
constexpr uint8_t kAccepted = 0xF1;

// 08 <address u32> <length u32> 00: the loader answers with bytes 0-8 echoed and a 16-bit sum.
std::array<uint8_t, 10> EncodeRegionCheck(uint32_t address, uint32_t length);
constexpr uint32_t kRegionCheckReplySize = 11;

// 07 <address u32> <count low 16 bits> <checksum u16> 00 00 00: announces one block of data, the
// next message. A2 counts words (its loader echoes bytes 0-8), A1 bytes from the start address
// (its loader echoes all twelve); a full block of 0x10000 goes out as 00 00.
std::array<uint8_t, 12> EncodeBlockWrite(uint32_t address, uint32_t count, uint16_t checksum);

// 09 <00 success | 01 failure> 00 00: the loader echoes all four bytes.
std::array<uint8_t, 4> EncodeFinish(bool success);

}  // namespace vortan
