// SPDX-License-Identifier: Apache-2.0
#include "package_builder/description_pieces.h"

namespace vortan::pack {

std::string A2Description(const A2Head& head, const std::string& sectors) {
  const std::string comment = head.comment.empty() ? "" : "; " + head.comment + "\n";
  return comment + "[Chip Type]\nType = 1\n[Flash Modle]\n" + head.flashModel +
         "\n[Write Modle]\nMode = " + head.writeMode + "\n[Reserved Sector]\n" + head.reserved +
         "\n[Block Size]\nSize = " + head.blockSize +
         "\n[File Offset]\nFileOffset = " + head.fileOffset + "\n" + R"([Time]
MaxWriteBack = 1000
MaxSectorEraseTime = 2000
[Data]
Blank = 0xFFFF
[Flash Reset]
ResetAddr = 0x3000
ResetData = 0xF0
[Sector Erase Cycle]
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
WriteBufferCount = 0x1F
WriteBufferPA1 = 3
WriteBufferPA2 = 255
WriteBufferSA1 = 4
WriteBufferSA2 = 255
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
ProgramBufferSA1 = 1
ProgramBufferSA2 = 255
Addr1 = 0x0
Data1 = 0x29
[Sector Address List]
)" + sectors +
         "\n";
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

std::string A1Description(const std::string& chipSize, const std::string& dataLength) {
  return "-- internal flash, the loader below the start address\n[Chip Info]\n"
         "Chip Name = VX32F103\nChip Type = 2\nChip Size = " +
         chipSize + "\n[Transmission Info]\nStart Address = 0x4000\nData Length = " + dataLength +
         "\nTime Over = 3000\n";
}

}  // namespace vortan::pack
