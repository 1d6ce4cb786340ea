// SPDX-License-Identifier: Apache-2.0
#pragma once
// Encoders and reply checks of the C1 loader commands (SPI flash behind the loader). Every
// multi-byte field is little-endian. Each encoder returns the exact request bytes; the constants
// name the exact reply sizes, since a shorter reply is treated as a mismatch.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace vortan {

// Image bytes per write command; a block is written in chunks of at most this size.
constexpr uint32_t kC1ChunkSize = 8192;

// 0B <spi> <chip select> <line mode> <sector size bits 0-23>: selects and configures the flash.
// The loader answers F1 followed by the flash capacity in bytes (u32).
std::array<uint8_t, 7> EncodeC1FlashSetup(uint32_t spiNumber, uint32_t chipSelect,
                                          uint32_t lineMode, uint32_t sectorSize);
constexpr uint32_t kC1FlashSetupReplySize = 5;
// The capacity of an accepting reply (byte 0 is 0xF1), or nullopt when the loader refused.
std::optional<uint32_t> DecodeC1FlashSetupReply(
    std::span<const uint8_t, kC1FlashSetupReplySize> reply);

// 02 <address u32>: starts erasing the sector at `address`; the loader echoes all five bytes.
std::array<uint8_t, 5> EncodeC1SectorErase(uint32_t address);
constexpr uint32_t kC1SectorEraseReplySize = 5;

// 03 <address u32>: asks whether the erase has finished. Reply bytes 5-6 read 0xFFFF when it
// has; bytes 0-4 are not examined.
std::array<uint8_t, 5> EncodeC1ErasePoll(uint32_t address);
constexpr uint32_t kC1ErasePollReplySize = 7;
bool C1EraseFinished(std::span<const uint8_t, kC1ErasePollReplySize> reply);

// 07 <address u32> <length u32> <byte checksum u16> 00: announces one chunk; its bytes follow
// as one message, answered by 0xF4. The loader echoes the command; byte 11 is not compared.
std::array<uint8_t, 12> EncodeC1Write(uint32_t address, uint32_t length, uint16_t checksum);
constexpr uint32_t kC1WriteReplySize = 12;
bool C1WriteEchoMatches(std::span<const uint8_t, 12> request,
                        std::span<const uint8_t, kC1WriteReplySize> reply);

// The loader's answer to a received data message.
constexpr uint8_t kC1DataReceived = 0xF4;

}  // namespace vortan
