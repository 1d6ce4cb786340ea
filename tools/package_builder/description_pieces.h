#pragma once
// Pieces of chip descriptions shared by tests, benchmarks and fuzz targets.
#include <string>

namespace vortan::pack {

// The erase, program, write-buffer and program-buffer cycle sections of an A2 chip description
// for a common 16-bit NOR flash (six erase cycles, three program cycles), ending with a newline.
std::string A2CycleSections();

// A C1 chip description: sector 0 reserved, one SPI line, controller 0, chip select 0, and
// sectors of `sectorSize` (the text of the number, e.g. "0x1000").
std::string C1Description(const std::string& sectorSize);

}  // namespace vortan::pack
