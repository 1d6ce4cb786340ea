// SPDX-License-Identifier: Apache-2.0
#include "package/dat_file_examine.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <span>
#include <string_view>
#include <utility>

#include "package/package_layout.h"
#include "package/step_plan.h"
#include "package/work_file.h"
#include "updaters/updater_factory.h"
#include "util/marker_text.h"
#include "util/regular_file.h"
#include "util/utf8_text.h"

namespace vortan {
namespace {

namespace layout = package_layout;

std::string_view Text(const char* field, size_t size) {
  return std::string_view(field, size);
}

}  // namespace

DatFileExamine::DatFileExamine(std::string workFolder) : workFolder_(std::move(workFolder)) {}

DatFileExamine::~DatFileExamine() {
  Update1.reset();
  Update2.reset();
}

bool DatFileExamine::ReadFile(const std::string& path) {
  // Released first so that a large package is never held twice.
  datBuffer.clear();
  datBuffer.shrink_to_fit();
  fileLength = 0;
  isFileReady = false;
  filePath = path;
  failureReason_.clear();
  ByteBuffer bytes;
  if (!ReadRegularFile(path, kMaxFileLength, bytes, SymlinkPolicy::kFollow, &failureReason_)) {
    return false;
  }
  if (bytes.empty()) {
    failureReason_ = "The file is empty";
    return false;
  }
  datBuffer = std::move(bytes);
  fileLength = static_cast<int64_t>(datBuffer.size());
  return true;
}

bool DatFileExamine::Examine() {
  lackedMemory_ = false;
  try {
    return ExamineBuffer();
  } catch (const std::bad_alloc&) {
    // Not the package's fault, so never told as a format error.
    isFileReady = false;
    lackedMemory_ = true;
    failureReason_ = std::strerror(ENOMEM);
    return false;
  }
}

template <typename Self>
DatFileExamine::PackView<std::is_const_v<Self>> DatFileExamine::PackOf(Self& self, int pack) {
  if (pack == 1) {
    return {self.dataType1,   self.cnfgAddr1, self.cnfgLength1, self.dataAddr1,
            self.dataLength1, self.cnfgPath1, self.dataPath1,   self.Update1};
  }
  return {self.dataType2,   self.cnfgAddr2, self.cnfgLength2, self.dataAddr2,
          self.dataLength2, self.cnfgPath2, self.dataPath2,   self.Update2};
}

bool DatFileExamine::ExamineBuffer() {
  isFileReady = false;
  failureReason_.clear();
  if (datBuffer.empty() || fileLength <= 0) return false;
  if (!KeepFormat(CheckPackageFormat(datBuffer))) return false;
  CopyTexts();
  SetWorkPaths();
  if (!WriteWorkFiles()) return false;
  if (workFilesWritten_) workFilesWritten_();
  if (!MakeUpdaters()) return false;
  isFileReady = true;
  return true;
}

bool DatFileExamine::KeepFormat(const PackageFormat& format) {
  countDataPack = format.countDataPack;
  for (int pack = 1; pack <= 2; ++pack) {
    const PackView<false> view = PackOf(*this, pack);
    const PackFields& read = format.packs[pack - 1];
    view.dataType = read.dataType;
    view.cnfgAddr = read.cnfgAddr;
    view.cnfgLength = read.cnfgLength;
    view.dataAddr = read.dataAddr;
    view.dataLength = read.dataLength;
  }
  return format.Accepted();
}

void DatFileExamine::CopyTexts() {
  char* const keys[] = {key1, key2, key3};
  for (uint32_t k = 0; k < 3; ++k) {
    std::memcpy(keys[k], &datBuffer[layout::kKey1 + k * layout::kKeySize], layout::kKeySize);
    keys[k][layout::kKeySize] = '\0';
  }
  std::memcpy(productModel, &datBuffer[layout::kProductModel], layout::kProductModelSize);
  productModel[layout::kProductModelSize] = '\0';
  std::memcpy(firmwareVersion, &datBuffer[layout::kFirmwareVersion], layout::kFirmwareVersionSize);
  firmwareVersion[layout::kFirmwareVersionSize] = '\0';
}

void DatFileExamine::SetWorkPaths() {
  static constexpr const char* kNames[2][2] = {{"TEMP1.INI", "TEMP1.BIN"},
                                               {"TEMP2.INI", "TEMP2.BIN"}};
  const std::filesystem::path folder(workFolder_);
  for (int pack = 1; pack <= 2; ++pack) {
    const PackView<false> view = PackOf(*this, pack);
    view.cnfgPath = (folder / kNames[pack - 1][0]).string();
    view.dataPath = (folder / kNames[pack - 1][1]).string();
  }
}

bool DatFileExamine::WriteWorkFiles() {
  for (int pack = 1; pack <= countDataPack; ++pack) {
    const PackView<false> view = PackOf(*this, pack);
    if (!WriteSection(view.cnfgPath, view.cnfgAddr, view.cnfgLength) ||
        !WriteSection(view.dataPath, view.dataAddr, view.dataLength)) {
      return false;
    }
  }
  return true;
}

bool DatFileExamine::WriteSection(const std::string& path, uint32_t offset, uint32_t length) {
  if (datBuffer.empty() || !SectionInPackage(datBuffer, offset, length)) return false;
  std::string why;
  if (WriteWorkFile(path, datBuffer.data() + offset, length, &why)) return true;
  failureReason_ = "Cannot write the work file " + path + ": " + why;
  return false;
}

bool DatFileExamine::MakeUpdaters() {
  // A refused package never leaves an earlier package's second updater behind.
  Update2.reset();
  // Data pack 2 is looked at only after data pack 1 loaded.
  for (int pack = 1; pack <= countDataPack; ++pack) {
    if (!MakeUpdater(pack)) return false;
  }
  const int64_t total = int64_t{Update1->StepCount()} + (Update2 ? Update2->StepCount() : 0);
  return total <= std::numeric_limits<int32_t>::max();
}

bool DatFileExamine::MakeUpdater(int pack) {
  const PackView<false> view = PackOf(*this, pack);
  // The old updater goes first, so a refused family leaves none in its place.
  view.update.reset();
  view.update = vortan::MakeUpdater(view.dataType, view.cnfgPath, view.dataPath);
  return view.update && view.update->Load() && UpdaterReadPackageBytes(*view.update, pack);
}

bool DatFileExamine::UpdaterReadPackageBytes(const AXUpdate& updater, int pack) const {
  // The updater read the work files back from a folder others can write to; what it holds must
  // be exactly what the sums vouched for.
  const PackView<true> view = PackOf(*this, pack);
  const std::span<const uint8_t> package(datBuffer);
  return std::ranges::equal(updater.DescriptionBytes(),
                            package.subspan(view.cnfgAddr, view.cnfgLength)) &&
         std::ranges::equal(updater.ImageBytes(), package.subspan(view.dataAddr, view.dataLength));
}

int32_t DatFileExamine::TotalStepCount() const {
  if (!isFileReady) return 0;
  // Examine made sure the sum fits.
  int32_t total = Update1 ? Update1->StepCount() : 0;
  if (countDataPack == 2 && Update2) total += Update2->StepCount();
  return total;
}

AXUpdate* DatFileExamine::StepUpdater(int pack) {
  if (pack == 1) return Update1.get();
  return pack == 2 && countDataPack == 2 ? Update2.get() : nullptr;
}

bool DatFileExamine::DoStep(uint32_t index) {
  if (!isFileReady) return false;
  const PlannedStep step = PlanStep(index, Update1 ? Update1->StepCount() : 0,
                                    Update2 ? Update2->StepCount() : 0, countDataPack);
  AXUpdate* updater = StepUpdater(step.pack);
  return updater && RunPlannedStep(*updater, step, index);
}

void DatFileExamine::Finish(bool success) {
  if (isFileReady && Update1) Update1->FinishUpdate(success);
}

const AXUpdate* DatFileExamine::Updater(int pack) const {
  return pack == 1 ? Update1.get() : pack == 2 ? Update2.get() : nullptr;
}

std::string DatFileExamine::GetProductModel() const {
  return isFileReady ? FieldText(Text(productModel, sizeof productModel)) : std::string();
}

std::string DatFileExamine::GetFirmwareVersion() const {
  return isFileReady ? FieldText(Text(firmwareVersion, sizeof firmwareVersion)) : std::string();
}

std::string DatFileExamine::GetNoDeviceText() const {
  if (!isFileReady) return "No Device (Open dat file first)";
  const std::string k1 = KeyName(1);
  const std::string k2 = KeyName(2);
  const std::string k3 = KeyName(3);
  // Only the later names are tested for emptiness: key 3 alone still gives the three-key text.
  if (key3[0] != '\0') {
    return ReplaceMarkers("No Device (Press \"%@\" + \"%@\" + \"%@\" to open)", {k1, k2, k3});
  }
  if (key2[0] != '\0') return ReplaceMarkers("No Device (Press \"%@\" + \"%@\" to open)", {k1, k2});
  if (key1[0] != '\0') return ReplaceMarkers("No Device (Press \"%@\" to open)", {k1});
  return "No Device (Open device first)";
}

void DatFileExamine::DeleteTempFiles() {
  for (const std::string* path : {&cnfgPath1, &cnfgPath2, &dataPath1, &dataPath2}) {
    if (!path->empty()) ::unlink(path->c_str());
  }
}

DatFileExamine::DataPackInfo DatFileExamine::DataPack(int pack) const {
  const PackView<true> view = PackOf(*this, pack);
  DataPackInfo info;
  info.dataType = view.dataType;
  const char family[2] = {static_cast<char>(info.dataType), static_cast<char>(info.dataType >> 8)};
  info.chipFamily = FieldText(Text(family, 2));
  info.cnfgAddr = view.cnfgAddr;
  info.cnfgLength = view.cnfgLength;
  info.dataAddr = view.dataAddr;
  info.dataLength = view.dataLength;
  info.cnfgPath = view.cnfgPath;
  info.dataPath = view.dataPath;
  return info;
}

std::string DatFileExamine::KeyName(int index) const {
  const char* key = index == 1 ? key1 : index == 2 ? key2 : key3;
  return FieldText(Text(key, 9));
}

}  // namespace vortan
