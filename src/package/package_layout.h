// SPDX-License-Identifier: Apache-2.0
#pragma once
// Byte layout of an update package: a 128-byte header, one 128-byte descriptor per data pack
// (one or two), then the sections wherever the descriptors point. Numbers are u32
// little-endian, offsets absolute; every sum is the byte sum of a range modulo 2^32.
#include <cstdint>

namespace vortan::package_layout {

constexpr uint32_t kBlockSize = 128;

// Header.
constexpr uint32_t kProductModel = 32;  // 16 bytes of text
constexpr uint32_t kProductModelSize = 16;
constexpr uint32_t kFirmwareVersion = 48;  // 16 bytes of text
constexpr uint32_t kFirmwareVersionSize = 16;
constexpr uint32_t kKey1 = 80;  // three 8-byte key names follow each other
constexpr uint32_t kKeySize = 8;
constexpr uint32_t kDataPackCount = 123;
constexpr uint32_t kHeaderSum = 124;  // sum of bytes 0 to 123

// Descriptor of data pack n (1 or 2) starts at n * 128; offsets below are relative to it.
constexpr uint32_t DescriptorStart(int pack) {
  return kBlockSize * static_cast<uint32_t>(pack);
}
constexpr uint32_t kChipFamily = 44;  // two ASCII characters, read with +46..47 as one u32
constexpr uint32_t kCnfgOffset = 64;
constexpr uint32_t kCnfgLength = 68;
constexpr uint32_t kCnfgSum = 72;
constexpr uint32_t kDataOffset = 112;
constexpr uint32_t kDataLength = 116;
constexpr uint32_t kDataSum = 120;
constexpr uint32_t kDescriptorSum = 124;  // sum of the descriptor's bytes +0 to +123

}  // namespace vortan::package_layout
