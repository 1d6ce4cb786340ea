// SPDX-License-Identifier: Apache-2.0
#include "cli/reporter_json.h"

#include <iostream>

#include "cli/json.h"

namespace vortan::cli {

void JsonReporter::Package(const DatFileExamine& datFile) {
  nlohmann::json packs = nlohmann::json::array();
  for (int p = 1; p <= datFile.CountDataPack(); ++p) {
    const DatFileExamine::DataPackInfo pack = datFile.DataPack(p);
    packs.push_back({{"chipFamily", pack.chipFamily},
                     {"description", {{"offset", pack.cnfgAddr}, {"length", pack.cnfgLength}}},
                     {"image", {{"offset", pack.dataAddr}, {"length", pack.dataLength}}},
                     {"steps", PackStepCount(datFile, p)}});
  }
  const nlohmann::json out = {
      {"package", datFile.FilePath()},
      {"productModel", datFile.GetProductModel()},
      {"firmwareVersion", datFile.GetFirmwareVersion()},
      {"keys", {datFile.KeyName(1), datFile.KeyName(2), datFile.KeyName(3)}},
      {"dataPacks", packs},
      {"totalSteps", datFile.TotalStepCount()},
      {"noDeviceText", datFile.GetNoDeviceText()},
  };
  std::cout << JsonText(out, 2) << '\n';
}

void JsonReporter::Device(const HidDeviceInfo& e) {
  std::cout << JsonLine({{"path", e.path},
                         {"serial", e.serial},
                         {"manufacturer", e.manufacturer},
                         {"product", e.product},
                         {"interface", e.interfaceNumber}})
            << '\n';
}

void JsonReporter::RunStarted(const KeyboardName& keyboard, const DatFileExamine& package,
                              int32_t totalSteps) {
  HumanReporter::RunStarted(keyboard, package, totalSteps);
  totalSteps_ = totalSteps;
  std::cout << JsonLine(StartEvent(keyboard, package, totalSteps)) << std::endl;
}

void JsonReporter::Progress(const KeyboardName& keyboard, int32_t value) {
  HumanReporter::Progress(keyboard, value);
  if (value >= 0) std::cout << JsonLine(StepEvent(keyboard, value, totalSteps_)) << std::endl;
}

void JsonReporter::FaultUnfired(const KeyboardName& keyboard, int line, const std::string& fault) {
  HumanReporter::FaultUnfired(keyboard, line, fault);
  std::cout << JsonLine(UnfiredFaultEvent(keyboard, line, fault)) << std::endl;
}

void JsonReporter::RunEnded(const KeyboardName& keyboard, const RunEnd& end) {
  std::cout << JsonLine(EndEvent(keyboard, end.success, end.reason)) << std::endl;
  HumanReporter::RunEnded(keyboard, end);
}

void JsonReporter::KeyboardEvent(const KeyboardName& keyboard, const RunEvent& event,
                                 const std::string& line) {
  // The child's own line, relayed as it came; only a missing end is made here.
  std::cout << (line.empty() ? JsonLine(EndEvent(keyboard, event.success, event.reason)) : line)
            << std::endl;
}

}  // namespace vortan::cli
