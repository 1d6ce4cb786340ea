// SPDX-License-Identifier: Apache-2.0
#include "cli/reporter_human.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>

#include "app/user_texts.h"

namespace vortan::cli {
namespace {

std::string Place(uint32_t offset, uint32_t length) {
  char text[80];
  std::snprintf(text, sizeof text, "offset %" PRIu32 " (0x%" PRIX32 "), length %" PRIu32, offset,
                offset, length);
  return text;
}

}  // namespace

HumanReporter::HumanReporter(bool terminal, std::ostream& out)
    : terminal_(terminal), out_(out), table_(std::cerr) {}

void HumanReporter::Package(const DatFileExamine& datFile) {
  out_ << "Package:          " << datFile.FilePath() << '\n'
       << "Product model:    " << datFile.GetProductModel() << '\n'
       << "Firmware version: " << datFile.GetFirmwareVersion() << '\n'
       << "Key names:        \"" << datFile.KeyName(1) << "\" \"" << datFile.KeyName(2) << "\" \""
       << datFile.KeyName(3) << "\"\n";
  for (int p = 1; p <= datFile.CountDataPack(); ++p) {
    const DatFileExamine::DataPackInfo pack = datFile.DataPack(p);
    out_ << "Data pack " << p << ":      chip family " << pack.chipFamily << '\n'
         << "  Chip description: " << Place(pack.cnfgAddr, pack.cnfgLength) << '\n'
         << "  Firmware image:   " << Place(pack.dataAddr, pack.dataLength) << '\n'
         << "  Steps:            " << PackStepCount(datFile, p) << '\n';
  }
  out_ << "Total steps:      " << datFile.TotalStepCount() << '\n'
       << "No-device text:   " << datFile.GetNoDeviceText() << '\n';
}

void HumanReporter::Device(const HidDeviceInfo& e) {
  out_ << e.path << "  serial \"" << e.serial << "\"  manufacturer \"" << e.manufacturer
       << "\"  product \"" << e.product << "\"  interface " << e.interfaceNumber << '\n';
}

void HumanReporter::RunStarted(const KeyboardName&, const DatFileExamine& package,
                               int32_t totalSteps) {
  out_ << "Updating " << package.GetProductModel() << " to firmware "
       << package.GetFirmwareVersion() << " in " << totalSteps << " steps" << std::endl;
  display_.emplace(std::cerr, terminal_, totalSteps);
}

void HumanReporter::Progress(const KeyboardName&, int32_t value) {
  if (display_) display_->Show(value);
}

void HumanReporter::Log(std::string_view line) {
  if (display_) {
    display_->Log(line);
  } else {
    std::cerr << line << std::endl;
  }
}

void HumanReporter::FaultUnfired(const KeyboardName&, int line, const std::string& fault) {
  std::cerr << "Fault script line " << line << " never fired: " << fault << '\n';
}

void HumanReporter::RunEnded(const KeyboardName&, const RunEnd& end) {
  if (end.success) {
    out_ << kTextSuccess << std::endl;
  } else {
    std::cerr << kTextFailure << '\n' << end.details;
  }
}

void HumanReporter::KeyboardEvent(const KeyboardName&, const RunEvent&, const std::string&) {
  // Shown through KeyboardRows.
}

void HumanReporter::KeyboardText(const KeyboardName& keyboard, const std::string& line) {
  // On a terminal the table stands in for the children's lines.
  if (!terminal_) std::cerr << '[' << keyboard.path << "] " << line << std::endl;
}

void HumanReporter::KeyboardRows(const std::vector<KeyboardRow>& rows) {
  if (terminal_) table_.Draw(rows);
}

void HumanReporter::Summary(const std::vector<KeyboardRow>& rows) {
  for (const KeyboardRow& row : rows) out_ << SummaryLine(row) << '\n';
  out_ << UpdatedCount(rows) << " of " << rows.size() << " keyboards updated" << std::endl;
}

}  // namespace vortan::cli
