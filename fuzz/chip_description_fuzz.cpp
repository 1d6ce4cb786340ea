// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary chip description text to a family's Load, with a small image beside it.
// Input: byte 0 picks the family (its selector character, else modulo the table), byte 1 sets
// the image length (16 × its value), the rest is the description file.
// A description that Load accepts on its own must also be accepted inside a package, with the
// same step count: a package refused for the bytes its description holds is a finding.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "package/dat_file_examine.h"
#include "package_builder/package_builder.h"
#include "updaters/updater_factory.h"
#include "util/byte_text.h"
#include "util/diag_log.h"

namespace {

struct Family {
  char selector;
  const char* chipFamily;
  uint16_t word;
};

// One line per chip family.
const Family kFamilies[] = {
    {'2', "A2", vortan::kFamilyWordA2},
    {'C', "C1", vortan::kFamilyWordC1},
    {'1', "A1", vortan::kFamilyWordA1},
};

// A private folder for one input's two work files, removed afterwards: libFuzzer may end the
// process without running exit handlers.
class Folder {
 public:
  Folder() {
    const char* base = getenv("TMPDIR");
    path_ = std::string(base && *base ? base : "/tmp") + "/vortan-fuzz-XXXXXX";
    if (!mkdtemp(path_.data())) abort();
  }
  ~Folder() { std::filesystem::remove_all(path_); }
  std::string File(const char* name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (!vortan::pack::WritePackageFile(path, bytes)) abort();
}

// Examines a one-pack package of `family` that carries `description` and `image`; the step count
// of its updater, or -1 when the package is refused.
int32_t PackageSteps(const Folder& folder, const Family& family, std::string_view description,
                     const std::vector<uint8_t>& image) {
  vortan::pack::PackageContents contents;
  contents.packs = {{family.chipFamily, 0, std::string(description), image}};
  std::vector<uint8_t> bytes;
  std::string error;
  if (!vortan::pack::BuildPackage(contents, {}, bytes, error)) abort();
  const std::string path = folder.File("input.dat");
  WriteFile(path, bytes);
  vortan::DatFileExamine datFile(folder.Path());
  if (!datFile.ReadFile(path) || !datFile.Examine()) return -1;
  return datFile.TotalStepCount();
}

const Family& Pick(uint8_t byte) {
  for (const Family& f : kFamilies) {
    if (f.selector == static_cast<char>(byte)) return f;
  }
  return kFamilies[byte % std::size(kFamilies)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const bool quiet = (vortan::SetLogSink([](std::string_view) {}), true);
  (void)quiet;
  const Folder folder;
  const std::string cnfg = folder.File("TEMP1.INI");
  const std::string image = folder.File("TEMP1.BIN");
  std::vector<uint8_t> imageBytes(16 * size_t{data[1]});
  for (size_t i = 0; i < imageBytes.size(); ++i) imageBytes[i] = static_cast<uint8_t>(i * 31 + 7);
  WriteFile(image, imageBytes);
  WriteFile(cnfg, {data + 2, data + size});
  const Family& family = Pick(data[0]);
  auto updater = vortan::MakeUpdater(family.word, cnfg, image);
  if (updater->Load()) {
    const std::string_view description = vortan::AsText({data + 2, size - 2});
    if (PackageSteps(folder, family, description, imageBytes) != updater->StepCount()) abort();
    // What the plan writes must come from inside the image.
    for (const vortan::PlannedRegion& region : updater->PlannedRegions()) {
      if (region.imageOffset + region.length > imageBytes.size()) abort();
    }
  }
  return 0;
}
