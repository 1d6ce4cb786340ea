#pragma once
// A readable A2 chip description for tests: six sectors of 0x100 words; the parts tests vary are
// fields, and `extra` is appended last, where a repeated section overrides earlier scalar values.
#include <string>

#include "package_builder/description_pieces.h"

namespace vortan::testing {

struct A2Text {
  std::string writeMode = "0";
  std::string reserved = "0x200";
  std::string blockSize = "0x40";
  std::string fileOffset = "0";
  std::string sectors = "0x000\n0x100\n0x200\n0x300\n0x400\n0x500";
  std::string extra;

  std::string Render() const {
    return pack::A2Description({"test flash: six sectors of 0x100 words", "TEST-NOR-16", writeMode,
                                reserved, blockSize, fileOffset},
                               sectors) +
           extra;
  }
};

}  // namespace vortan::testing
