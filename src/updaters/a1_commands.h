// SPDX-License-Identifier: Apache-2.0
#pragma once
// Sizes and status bytes of the A1 loader commands (a flash written in blocks from a start
// address).
#include <array>
#include <cstdint>

namespace vortan {

// Bytes per data message: a block follows its write command in pieces of this size, the last
// piece holding the rest, with no reply per piece.
constexpr uint32_t kA1PieceSize = 64;

// The largest block the 16-bit length field can announce; 65536 goes out as 00 00.
constexpr uint32_t kA1MaxBlockLength = 65536;

// The write command (EncodeBlockWrite) announces a block at an offset in bytes from the start
// address; the loader echoes all twelve bytes.
constexpr uint32_t kA1WriteReplySize = 12;

// After the last piece the loader answers two one-byte messages, in this order.
constexpr uint8_t kA1BlockReceived = 0xF4;
constexpr uint8_t kA1BlockStored = 0xD4;

}  // namespace vortan
