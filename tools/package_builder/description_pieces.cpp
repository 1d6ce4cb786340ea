#include "package_builder/description_pieces.h"

namespace vortan::pack {

std::string A2CycleSections() {
  return R"([Sector Erase Cycle]
EraseCycles = 6
Addr1 = 0x555
Data1 = 0xAA
Addr2 = 0x2AA
Data2 = 0x55
Addr3 = 0x555
Data3 = 0x80
Addr4 = 0x555
Data4 = 0xAA
Addr5 = 0x2AA
Data5 = 0x55
Addr6 = 0x0
Data6 = 0x30
[Program Cycle]
ProgramCycles = 3
Addr1 = 0x555
Data1 = 0xAA
Addr2 = 0x2AA
Data2 = 0x55
Addr3 = 0x555
Data3 = 0xA0
[Write Buffer Cycle]
WriteBufferCycles = 4
WriteBufferSA2 = 0xFF
Addr1 = 0x555
Data1 = 0xAA
Addr2 = 0x2AA
Data2 = 0x55
Addr3 = 0x0
Data3 = 0x25
Addr4 = 0x0
Data4 = 0x0
[Program Buffer Cycle]
ProgramBufferCycles = 1
ProgramBufferSA2 = 0xFF
Addr1 = 0x0
Data1 = 0x29
)";
}

std::string C1Description(const std::string& sectorSize) {
  return R"([reserved sector]
0x0
[line mode]
Mode = 1
[spi number]
Number = 0
[chip select number]
Select = 0
[sector size]
Size = )" +
         sectorSize + "\n";
}

}  // namespace vortan::pack
