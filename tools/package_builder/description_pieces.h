#pragma once
// Pieces of chip descriptions shared by tests, benchmarks and fuzz targets.
#include <string>

namespace vortan::pack {

// The erase, program, write-buffer and program-buffer cycle sections of an A2 chip description
// for a common 16-bit NOR flash (six erase cycles, three program cycles), ending with a newline.
std::string A2CycleSections();

}  // namespace vortan::pack
