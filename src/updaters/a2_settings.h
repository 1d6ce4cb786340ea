// SPDX-License-Identifier: Apache-2.0
#pragma once
// The settings an A2 chip description gives, with their defaults. Numbers are unsigned 32-bit;
// flash addresses (sectors, reserved sectors, bus cycles) count 16-bit words.
#include <cstdint>
#include <string>
#include <vector>

namespace vortan {

struct A2Settings {
  std::string flashModel;
  bool writeMode = false;  // false: word programming; true: buffer programming
  std::vector<uint32_t> reservedSectors;
  uint32_t blockSize = 0x1000;  // words per write command
  uint32_t fileOffset = 0;      // words at the start of the image that are not programmed
  uint32_t maxWriteBack = 1000;
  uint32_t maxSectorEraseTime = 2000;  // milliseconds
  uint32_t blankValue = 0xFFFF;
  uint32_t resetAddr = 0x3000;
  uint32_t resetData = 0xF0;
  uint32_t eraseCycles = 6;
  std::vector<uint32_t> eraseAddrList, eraseDataList;
  uint32_t programCycles = 3;
  std::vector<uint32_t> programAddrList, programDataList;
  uint32_t writeBufferCycles = 4;
  uint32_t writeBufferCount = 0;
  uint32_t writeBufferPA1 = 3;
  uint32_t writeBufferPA2 = 255;
  uint32_t writeBufferSA1 = 4;
  uint32_t writeBufferSA2 = 255;
  std::vector<uint32_t> writeBufferAddrList, writeBufferDataList;
  uint32_t programBufferCycles = 1;
  uint32_t programBufferSA1 = 1;
  uint32_t programBufferSA2 = 255;
  std::vector<uint32_t> programBufferAddrList, programBufferDataList;
  std::vector<uint32_t> sectorAddressList;  // start of every sector, ascending
};

}  // namespace vortan
