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

#include "link/byte_order.h"
#include "package/package_layout.h"
#include "package/step_plan.h"
#include "package/work_file.h"
#include "updaters/updater_factory.h"
#include "util/checksums.h"
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

bool DatFileExamine::ExamineBuffer() {
  isFileReady = false;
  failureReason_.clear();
  if (datBuffer.empty() || fileLength <= 0) return false;
  if (!CheckBlocks() || !CheckSections()) return false;
  CopyTexts();
  if (!ProductModelNamesDevice()) return false;
  std::memcpy(firmwareVersion, &datBuffer[layout::kFirmwareVersion], layout::kFirmwareVersionSize);
  SetWorkPaths();
  if (!WriteWorkFiles()) return false;
  if (workFilesWritten_) workFilesWritten_();
  if (!MakeUpdaters()) return false;
  isFileReady = true;
  return true;
}

bool DatFileExamine::CheckBlocks() {
  // Each block is read only once the file is known to hold it.
  if (fileLength < layout::kBlockSize) return false;
  countDataPack = datBuffer[layout::kDataPackCount];
  if (countDataPack != 1 && countDataPack != 2) return false;
  if (ByteSum32(datBuffer.data(), layout::kHeaderSum) != WordAt(layout::kHeaderSum)) return false;
  for (int pack = 1; pack <= countDataPack; ++pack) {
    const uint32_t start = layout::DescriptorStart(pack);
    if (fileLength < start + layout::kBlockSize) return false;
    if (ByteSum32(&datBuffer[start], layout::kDescriptorSum) !=
        WordAt(start + layout::kDescriptorSum)) {
      return false;
    }
    (pack == 1 ? dataType1 : dataType2) = WordAt(start + layout::kChipFamily);
  }
  return true;
}

bool DatFileExamine::CheckSections() {
  const uint32_t d1 = layout::DescriptorStart(1);
  const uint32_t d2 = layout::DescriptorStart(2);
  const bool two = countDataPack == 2;
  cnfgAddr1 = WordAt(d1 + layout::kCnfgOffset);
  cnfgLength1 = WordAt(d1 + layout::kCnfgLength);
  if (!SectionSumMatches(cnfgAddr1, cnfgLength1, d1 + layout::kCnfgSum)) return false;
  if (two) {
    cnfgAddr2 = WordAt(d2 + layout::kCnfgOffset);
    cnfgLength2 = WordAt(d2 + layout::kCnfgLength);
    if (!SectionSumMatches(cnfgAddr2, cnfgLength2, d2 + layout::kCnfgSum)) return false;
  }
  dataAddr1 = WordAt(d1 + layout::kDataOffset);
  dataLength1 = WordAt(d1 + layout::kDataLength);
  if (!SectionSumMatches(dataAddr1, dataLength1, d1 + layout::kDataSum)) return false;
  if (two) {
    dataAddr2 = WordAt(d2 + layout::kDataOffset);
    dataLength2 = WordAt(d2 + layout::kDataLength);
    if (!SectionSumMatches(dataAddr2, dataLength2, d2 + layout::kDataSum)) return false;
  }
  return true;
}

bool DatFileExamine::SectionSumMatches(uint32_t addr, uint32_t length, uint32_t sumField) const {
  return RangeInFile(addr, length) &&
         ByteSum32(datBuffer.data() + addr, length) == WordAt(sumField);
}

bool DatFileExamine::RangeInFile(uint64_t offset, uint64_t length) const {
  // Both operands are below 2^32, so the 64-bit sum cannot wrap.
  return offset + length <= static_cast<uint64_t>(fileLength);
}

uint32_t DatFileExamine::WordAt(uint32_t offset) const {
  return GetU32(&datBuffer[offset]);
}

void DatFileExamine::CopyTexts() {
  char* const keys[] = {key1, key2, key3};
  for (uint32_t k = 0; k < 3; ++k) {
    std::memcpy(keys[k], &datBuffer[layout::kKey1 + k * layout::kKeySize], layout::kKeySize);
    keys[k][layout::kKeySize] = '\0';
  }
  std::memcpy(productModel, &datBuffer[layout::kProductModel], layout::kProductModelSize);
  productModel[layout::kProductModelSize] = '\0';
}

bool DatFileExamine::ProductModelNamesDevice() const {
  const std::string_view model(productModel);
  return model.find("VORTAN") != std::string_view::npos &&
         model.find("25") != std::string_view::npos;
}

void DatFileExamine::SetWorkPaths() {
  const std::filesystem::path folder(workFolder_);
  cnfgPath1 = (folder / "TEMP1.INI").string();
  dataPath1 = (folder / "TEMP1.BIN").string();
  cnfgPath2 = (folder / "TEMP2.INI").string();
  dataPath2 = (folder / "TEMP2.BIN").string();
}

bool DatFileExamine::WriteWorkFiles() {
  if (!WriteSection(cnfgPath1, cnfgAddr1, cnfgLength1)) return false;
  if (!WriteSection(dataPath1, dataAddr1, dataLength1)) return false;
  if (countDataPack != 2) return true;
  return WriteSection(cnfgPath2, cnfgAddr2, cnfgLength2) &&
         WriteSection(dataPath2, dataAddr2, dataLength2);
}

bool DatFileExamine::WriteSection(const std::string& path, uint32_t offset, uint32_t length) {
  if (datBuffer.empty() || !RangeInFile(offset, length)) return false;
  std::string why;
  if (WriteWorkFile(path, datBuffer.data() + offset, length, &why)) return true;
  failureReason_ = "Cannot write the work file " + path + ": " + why;
  return false;
}

bool DatFileExamine::MakeUpdaters() {
  // A refused package never leaves an earlier package's second updater behind.
  Update2.reset();
  // Data pack 2 is looked at only after data pack 1 loaded.
  if (!MakeUpdater(1)) return false;
  if (countDataPack == 2 && !MakeUpdater(2)) return false;
  const int64_t total = int64_t{Update1->StepCount()} + (Update2 ? Update2->StepCount() : 0);
  return total <= std::numeric_limits<int32_t>::max();
}

bool DatFileExamine::MakeUpdater(int pack) {
  const bool first = pack == 1;
  std::unique_ptr<AXUpdate>& slot = first ? Update1 : Update2;
  // The old updater goes first, so a refused family leaves none in its place.
  slot.reset();
  slot = vortan::MakeUpdater(first ? dataType1 : dataType2, first ? cnfgPath1 : cnfgPath2,
                             first ? dataPath1 : dataPath2);
  return slot && slot->Load() && UpdaterReadPackageBytes(*slot, pack);
}

bool DatFileExamine::UpdaterReadPackageBytes(const AXUpdate& updater, int pack) const {
  // The updater read the work files back from a folder others can write to; what it holds must
  // be exactly what the sums vouched for.
  const bool first = pack == 1;
  const std::span<const uint8_t> cnfg(datBuffer.data() + (first ? cnfgAddr1 : cnfgAddr2),
                                      first ? cnfgLength1 : cnfgLength2);
  const std::span<const uint8_t> data(datBuffer.data() + (first ? dataAddr1 : dataAddr2),
                                      first ? dataLength1 : dataLength2);
  return std::ranges::equal(updater.DescriptionBytes(), cnfg) &&
         std::ranges::equal(updater.ImageBytes(), data);
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
  DataPackInfo info;
  const bool first = pack == 1;
  info.dataType = first ? dataType1 : dataType2;
  const char family[2] = {static_cast<char>(info.dataType), static_cast<char>(info.dataType >> 8)};
  info.chipFamily = FieldText(Text(family, 2));
  info.cnfgAddr = first ? cnfgAddr1 : cnfgAddr2;
  info.cnfgLength = first ? cnfgLength1 : cnfgLength2;
  info.dataAddr = first ? dataAddr1 : dataAddr2;
  info.dataLength = first ? dataLength1 : dataLength2;
  info.cnfgPath = first ? cnfgPath1 : cnfgPath2;
  info.dataPath = first ? dataPath1 : dataPath2;
  return info;
}

std::string DatFileExamine::KeyName(int index) const {
  const char* key = index == 1 ? key1 : index == 2 ? key2 : key3;
  return FieldText(Text(key, 9));
}

}  // namespace vortan
