#include "cli/package_summary_command.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/exit_codes.h"
#include "cli/package_opening.h"
#include "package/dat_file_examine.h"
#include "updaters/ax_update.h"

namespace vortan::cli {
namespace {

// Steps the updater of data pack `pack` planned when the package was examined.
int32_t PackSteps(const DatFileExamine& datFile, int pack) {
  const AXUpdate* updater = datFile.Updater(pack);
  return updater ? updater->StepCount() : 0;
}

std::string Place(uint32_t offset, uint32_t length) {
  char text[80];
  std::snprintf(text, sizeof text, "offset %" PRIu32 " (0x%" PRIX32 "), length %" PRIu32, offset,
                offset, length);
  return text;
}

void PrintText(const DatFileExamine& datFile) {
  std::cout << "Package:          " << datFile.FilePath() << '\n'
            << "Product model:    " << datFile.GetProductModel() << '\n'
            << "Firmware version: " << datFile.GetFirmwareVersion() << '\n'
            << "Key names:        \"" << datFile.KeyName(1) << "\" \"" << datFile.KeyName(2)
            << "\" \"" << datFile.KeyName(3) << "\"\n";
  for (int p = 1; p <= datFile.CountDataPack(); ++p) {
    const DatFileExamine::DataPackInfo pack = datFile.DataPack(p);
    std::cout << "Data pack " << p << ":      chip family " << pack.chipFamily << '\n'
              << "  Chip description: " << Place(pack.cnfgAddr, pack.cnfgLength) << '\n'
              << "  Firmware image:   " << Place(pack.dataAddr, pack.dataLength) << '\n'
              << "  Steps:            " << PackSteps(datFile, p) << '\n';
  }
  std::cout << "Total steps:      " << datFile.TotalStepCount() << '\n'
            << "No-device text:   " << datFile.GetNoDeviceText() << '\n';
}

void PrintJson(const DatFileExamine& datFile) {
  nlohmann::json packs = nlohmann::json::array();
  for (int p = 1; p <= datFile.CountDataPack(); ++p) {
    const DatFileExamine::DataPackInfo pack = datFile.DataPack(p);
    packs.push_back({{"chipFamily", pack.chipFamily},
                     {"description", {{"offset", pack.cnfgAddr}, {"length", pack.cnfgLength}}},
                     {"image", {{"offset", pack.dataAddr}, {"length", pack.dataLength}}},
                     {"steps", PackSteps(datFile, p)}});
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
  // The path is the user's bytes and need not be UTF-8; the texts are already repaired.
  std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace

InspectCommand::InspectCommand(CLI::App& app)
    : command_(app.add_subcommand("inspect", "Check a package and print what it holds")) {
  command_->add_option("package", packagePath_, "Update package (.dat)")->required();
  command_->add_flag("--json", json_, "Print one JSON object");
}

bool InspectCommand::Selected() const {
  return command_->parsed();
}

int InspectCommand::Run(const GlobalOptions& options) const {
  DatFileExamine datFile(options.workFolder);
  const bool ready = OpenPackage(datFile, packagePath_);
  if (ready) json_ ? PrintJson(datFile) : PrintText(datFile);
  datFile.DeleteTempFiles();
  return ready ? kExitSuccess : kExitPackageRefused;
}

}  // namespace vortan::cli
