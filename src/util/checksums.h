// SPDX-License-Identifier: Apache-2.0
#pragma once
// The sums over image and package bytes. Kept in one place so the hot loops can be tuned once.
#include <cstddef>
#include <cstdint>

namespace vortan {

// Sum of the byte values, wrapping modulo 2^32 (the package's byte sum; its low 16 bits are the
// loader's byte checksum).
uint32_t ByteSum32(const uint8_t* data, size_t length);

// Sum of the little-endian 16-bit words data[2k] + 256 * data[2k+1], modulo 65536; a last odd
// byte is not counted.
uint16_t WordSum16(const uint8_t* data, size_t length);

}  // namespace vortan
