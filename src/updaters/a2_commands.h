// SPDX-License-Identifier: Apache-2.0
#pragma once
// Encoders of the A2 family's loader commands. Addresses count 16-bit flash words; multi-byte
// fields are little-endian. The loader echoes commands 2 and 4-6 whole and command 7 in its
// bytes 0-8; it answers the erase poll with the polled word in bytes 5-6 and a write's data
// with the status messages kDataReceived, then kDataProgrammed.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace vortan {

// 02 <address u32> <data u16>: one bus write cycle of a sector erase.
std::array<uint8_t, 7> EncodeA2EraseCycle(uint32_t address, uint32_t data);

// 03 <address u32>: read the flash word at `address`; the 7-byte reply carries it in bytes 5-6.
std::array<uint8_t, 5> EncodeA2ErasePoll(uint32_t address);
constexpr size_t kA2ErasePollReplySize = 7;
uint16_t DecodeA2PolledWord(std::span<const uint8_t, kA2ErasePollReplySize> reply);

// The cycle commands carry the cycle count doubled in one byte, so at most this many cycles.
constexpr uint32_t kA2MaxCommandCycles = 127;

// 04 <2n> then n × (<address u16> <data u16>): the word-program bus cycles. `addresses` and
// `data` hold the same number n of entries (n <= kA2MaxCommandCycles).
std::vector<uint8_t> EncodeA2ProgramCycles(std::span<const uint32_t> addresses,
                                           std::span<const uint32_t> data);

// The loader's parameters of buffer programming; only their low bytes are sent.
struct A2WriteBufferParams {
  uint32_t count;
  uint32_t pa1;
  uint32_t pa2;
  uint32_t sa1;
  uint32_t sa2;
};

// 05 <2n> <count> <PA1> <PA2> <SA1> <SA2> then n cycles as in command 4.
std::vector<uint8_t> EncodeBlockWriteBufferCycles(const A2WriteBufferParams& params,
                                                  std::span<const uint32_t> addresses,
                                                  std::span<const uint32_t> data);

// 06 <2n> <SA1> <SA2> then n cycles as in command 4.
std::vector<uint8_t> EncodeA2ProgramBufferCycles(uint32_t sa1, uint32_t sa2,
                                                 std::span<const uint32_t> addresses,
                                                 std::span<const uint32_t> data);

// Bytes of the write command's (EncodeBlockWrite, in words) reply that must equal the request.
constexpr size_t kA2WriteEchoedBytes = 9;

// Status messages after a write command's data.
constexpr uint8_t kDataReceived = 0xF4;
constexpr uint8_t kDataProgrammed = 0xD4;

}  // namespace vortan
