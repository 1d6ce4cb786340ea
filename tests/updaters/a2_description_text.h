#pragma once
// A readable A2 chip description for tests; the parts tests vary are fields, and `extra` is
// appended last, where a repeated section overrides earlier scalar values.
#include <string>

namespace vortan::testing {

struct A2Text {
  std::string writeMode = "0";
  std::string reserved = "0x200";
  std::string blockSize = "0x40";
  std::string fileOffset = "0";
  std::string sectors = "0x000\n0x100\n0x200\n0x300\n0x400\n0x500";
  std::string extra;

  std::string Render() const {
    return "; test flash: six sectors of 0x100 words\n"
           "[Chip Type]\nType = 1\n"
           "[Flash Modle]\nTEST-NOR-16\n"
           "[Write Modle]\nMode = " +
           writeMode +
           "\n"
           "[Reserved Sector]\n" +
           reserved +
           "\n"
           "[Block Size]\nSize = " +
           blockSize +
           "\n"
           "[File Offset]\nFileOffset = " +
           fileOffset +
           "\n"
           "[Time]\nMaxWriteBack = 1000\nMaxSectorEraseTime = 2000\n"
           "[Data]\nBlank = 0xFFFF\n"
           "[Flash Reset]\nResetAddr = 0x3000\nResetData = 0xF0\n"
           "[Sector Erase Cycle]\nEraseCycles = 6\n"
           "Addr1 = 0x555\nData1 = 0xAA\nAddr2 = 0x2AA\nData2 = 0x55\n"
           "Addr3 = 0x555\nData3 = 0x80\nAddr4 = 0x555\nData4 = 0xAA\n"
           "Addr5 = 0x2AA\nData5 = 0x55\nAddr6 = 0\nData6 = 0x30\n"
           "[Program Cycle]\nProgramCycles = 3\n"
           "Addr1 = 0x555\nData1 = 0xAA\nAddr2 = 0x2AA\nData2 = 0x55\n"
           "Addr3 = 0x555\nData3 = 0xA0\n"
           "[Write Buffer Cycle]\nWriteBufferCycles = 4\nWriteBufferCount = 0x1F\n"
           "WriteBufferPA1 = 3\nWriteBufferPA2 = 255\nWriteBufferSA1 = 4\nWriteBufferSA2 = 255\n"
           "Addr1 = 0x555\nData1 = 0xAA\nAddr2 = 0x2AA\nData2 = 0x55\n"
           "Addr3 = 0\nData3 = 0x25\nAddr4 = 0\nData4 = 0\n"
           "[Program Buffer Cycle]\nProgramBufferCycles = 1\n"
           "ProgramBufferSA1 = 1\nProgramBufferSA2 = 255\nAddr1 = 0\nData1 = 0x29\n"
           "[Sector Address List]\n" +
           sectors + "\n" + extra;
  }
};

}  // namespace vortan::testing
