#pragma once
// Encoders of the A1 loader commands (a flash written in blocks from a start address). Every
// multi-byte field is little-endian.
#include <array>
#include <cstdint>

namespace vortan {

// Bytes per data message: a block follows its write command in pieces of this size, the last
// piece holding the rest, with no reply per piece.
constexpr uint32_t kA1PieceSize = 64;

// The largest block the 16-bit length field can announce; 65536 goes out as 00 00.
constexpr uint32_t kA1MaxBlockLength = 65536;

// 07 <offset u32> <length low 16 bits> <byte checksum u16> 00 00 00: announces one block at
// `offset` bytes from the start address. The loader echoes all twelve bytes.
std::array<uint8_t, 12> EncodeA1Write(uint32_t offset, uint32_t length, uint16_t checksum);
constexpr uint32_t kA1WriteReplySize = 12;

// After the last piece the loader answers two one-byte messages, in this order.
constexpr uint8_t kA1BlockReceived = 0xF4;
constexpr uint8_t kA1BlockStored = 0xD4;

}  // namespace vortan
