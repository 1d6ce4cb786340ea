// SPDX-License-Identifier: Apache-2.0
#pragma once
// Chip descriptions for every family, shared by tests, benchmarks and fuzz targets: one home for
// each fixture text.
#include <string>

namespace vortan::pack {

// The sections of an A2 chip description up to its sector list, each field the text of a
// section's value. The defaults describe a common 16-bit NOR flash whose first sector holds the
// loader.
struct A2Head {
  std::string comment = "two 8 KiB sectors then 32 KiB sectors; the first holds the loader";
  std::string flashModel = "VX29LV800B";
  std::string writeMode = "0";
  std::string reserved = "0x0000";
  std::string blockSize = "0x800";
  std::string fileOffset = "0";
};

// A whole A2 chip description: `head` (the comment line left out when empty), the usual time,
// blank value and reset sections, the erase, program, write-buffer and program-buffer cycles of
// a common NOR flash (six erase cycles, three program cycles), and the sector list `sectors`
// (one address per line).
std::string A2Description(const A2Head& head = {},
                          const std::string& sectors = "0x0000\n0x1000\n0x2000\n0x6000\n0xA000");

// A C1 chip description: sector 0 reserved, one SPI line, controller 0, chip select 0, and
// sectors of `sectorSize` (the text of the number, e.g. "0x1000").
std::string C1Description(const std::string& sectorSize = "0x1000");

// An A1 chip description: the loader below the start address 0x4000, a chip of `chipSize` and
// blocks of `dataLength` (the texts of the numbers; by default 128 KiB and 2 KiB).
std::string A1Description(const std::string& chipSize = "0x20000",
                          const std::string& dataLength = "0x800");

}  // namespace vortan::pack
