// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the package reader as the window does: the bytes become a package
// file, then ReadFile, Examine and, for an accepted package, every text and fact a caller reads.
// The work files go to a private folder removed at exit.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/private_folder.h"
#include "package/dat_file_examine.h"
#include "package_builder/package_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = vortan::fuzz::PrivateFolder();
  const std::string path = folder + "/input.dat";
  const std::vector<uint8_t> input(data, data + size);
  // A clean-up of the shared temporary folder may have removed ours: make it again.
  if (!vortan::pack::WritePackageFile(path, input) &&
      (::mkdir(folder.c_str(), 0700) != 0 || !vortan::pack::WritePackageFile(path, input))) {
    std::abort();
  }
  vortan::DatFileExamine datFile(folder);
  if (datFile.ReadFile(path) && datFile.Examine()) {
    size_t seen = datFile.GetProductModel().size() + datFile.GetFirmwareVersion().size() +
                  datFile.GetNoDeviceText().size();
    for (int p = 1; p <= datFile.CountDataPack(); ++p)
      seen += datFile.DataPack(p).chipFamily.size();
    for (int k = 1; k <= 3; ++k) seen += datFile.KeyName(k).size();
    if (seen == 0) std::abort();  // an accepted package always has a model text
  } else {
    // Whatever was refused, the texts stay empty.
    if (!datFile.GetProductModel().empty()) std::abort();
  }
  datFile.DeleteTempFiles();
  return 0;
}
