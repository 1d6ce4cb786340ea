// SPDX-License-Identifier: Apache-2.0
#pragma once
// The package object: reads an update package whole, checks its sums, texts and section bounds,
// and writes its sections to the work files "TEMP1.INI", "TEMP1.BIN" (and "TEMP2.INI",
// "TEMP2.BIN" for a second data pack) in its work folder, then makes and loads one updater per
// data pack by its chip family. It is ready only after a successful Examine and until the next
// ReadFile; only a ready package runs steps. It has no lock: one thread at a time uses it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "package/package_check.h"
#include "updaters/ax_update.h"

namespace vortan {

class DatFileExamine {
 public:
  // Largest package ReadFile accepts: far above any firmware a keyboard carries, yet small
  // enough to hold in memory. A larger file is refused like an unreadable one.
  static constexpr uint64_t kMaxFileLength = uint64_t{1} << 30;  // 1 GiB

  // What a caller may print about data pack 1 or 2 of an examined package.
  struct DataPackInfo {
    uint32_t dataType = 0;
    std::string chipFamily;  // the two family characters as text
    uint32_t cnfgAddr = 0;
    uint32_t cnfgLength = 0;
    uint32_t dataAddr = 0;
    uint32_t dataLength = 0;
    std::string cnfgPath;
    std::string dataPath;
  };

  // `workFolder` holds the work files: "/tmp" in the programs, a private folder in tests.
  explicit DatFileExamine(std::string workFolder = "/tmp");
  ~DatFileExamine();
  DatFileExamine(const DatFileExamine&) = delete;
  DatFileExamine& operator=(const DatFileExamine&) = delete;

  // Releases the previous package and reads the file at `path` whole. False when it cannot be
  // opened, is not a regular file (a FIFO or device answers at once), is empty, is larger than
  // kMaxFileLength, cannot be held in memory, or reads short. Never throws.
  bool ReadFile(const std::string& path);

  // Checks the package read by ReadFile and writes its work files; true makes it ready. Refused:
  // no package read; a package CheckPackageFormat refuses (blocks, count, sums, bounds, product
  // model: see package_check.h); a work file that cannot be written; an unknown chip family; an
  // updater whose Load fails; an updater that read back a description or image other than the
  // package's own section bytes (a work file changed between writing and reading), so the device
  // never gets unchecked bytes; a plan whose total step count does not fit 32 bits. A package the
  // format checks refuse leaves earlier work files as they were.
  bool Examine();

  // Steps of a ready package: StepCount of Update1, plus that of Update2 with two data packs. 0
  // when not ready, so a refused package can never run.
  int32_t TotalStepCount() const;
  // Performs global step `index` on the updater the step plan names. False when not ready or
  // the index lies beyond the plan.
  bool DoStep(uint32_t index);
  // Sends the outcome through Update1's FinishUpdate (which closes the link). Sends nothing when
  // not ready: a refused package's updater never talks to the device.
  void Finish(bool success);
  // The updater of data pack 1 or 2 as last made (held even by a package that was then refused;
  // only a ready package's updaters are used); nullptr when absent.
  const AXUpdate* Updater(int pack) const;

  // Test seam: called once the work files are written and before the updaters read them, so a
  // test can change a work file in between. Production never sets it.
  void SetWorkFilesWrittenHook(std::function<void()> hook) { workFilesWritten_ = std::move(hook); }

  // Writes `length` bytes of the package from `offset` to the work file at `path` (see
  // WriteWorkFile). False when the range lies outside the package or the write fails.
  bool WriteSection(const std::string& path, uint32_t offset, uint32_t length);

  // The texts decoded as UTF-8 (ill-formed bytes shown as U+FFFD) when ready, else "".
  std::string GetProductModel() const;
  std::string GetFirmwareVersion() const;
  // The device status shown when no device is attached: which keys open the device.
  std::string GetNoDeviceText() const;
  // Why the last ReadFile or the writing of a work file failed, in the system's words (with the
  // work file's path), or empty when the refusal was the package's own (a sum, a bound).
  const std::string& FailureReason() const { return failureReason_; }
  // True when the last Examine failed only for lack of memory (FailureReason says so): the
  // package may be sound, and is shown as unreadable, never as a format error.
  bool LackedMemory() const { return lackedMemory_; }
  // Removes the four work files whose paths were set; errors are ignored.
  void DeleteTempFiles();

  bool IsFileReady() const { return isFileReady; }
  const std::string& FilePath() const { return filePath; }
  int64_t FileLength() const { return fileLength; }
  const std::string& WorkFolder() const { return workFolder_; }
  uint8_t CountDataPack() const { return countDataPack; }
  // Data pack 1 or 2 as far as the last Examine read it (numbers it did not reach are 0).
  DataPackInfo DataPack(int pack) const;
  // Key name 1 to 3 of the last package that passed the format checks, decoded like the texts
  // above ("" when not set).
  std::string KeyName(int index) const;

 private:
  // References to the fields of data pack 1 or 2 (any pack other than 1 is pack 2), so that
  // what is done for each data pack is one loop; const when taken from a const object.
  template <bool kConst>
  struct PackView {
    template <typename T>
    using Field = std::conditional_t<kConst, const T, T>&;
    Field<uint32_t> dataType;
    Field<uint32_t> cnfgAddr;
    Field<uint32_t> cnfgLength;
    Field<uint32_t> dataAddr;
    Field<uint32_t> dataLength;
    Field<std::string> cnfgPath;
    Field<std::string> dataPath;
    Field<std::unique_ptr<AXUpdate>> update;
  };
  template <typename Self>
  static PackView<std::is_const_v<Self>> PackOf(Self& self, int pack);

  bool ExamineBuffer();
  bool KeepFormat(const PackageFormat& format);
  void CopyTexts();
  void SetWorkPaths();
  bool WriteWorkFiles();
  bool MakeUpdaters();
  bool MakeUpdater(int pack);
  bool UpdaterReadPackageBytes(const AXUpdate& updater, int pack) const;
  AXUpdate* StepUpdater(int pack);

  std::string workFolder_;
  std::function<void()> workFilesWritten_;
  std::string failureReason_;
  bool lackedMemory_ = false;

  std::string filePath;
  int64_t fileLength = 0;
  bool isFileReady = false;
  ByteBuffer datBuffer;
  uint8_t countDataPack = 0;
  uint32_t dataType1 = 0;
  uint32_t dataType2 = 0;
  uint32_t cnfgAddr1 = 0;
  uint32_t cnfgAddr2 = 0;
  uint32_t cnfgLength1 = 0;
  uint32_t cnfgLength2 = 0;
  uint32_t dataAddr1 = 0;
  uint32_t dataAddr2 = 0;
  uint32_t dataLength1 = 0;
  uint32_t dataLength2 = 0;
  std::string cnfgPath1;
  std::string cnfgPath2;
  std::string dataPath1;
  std::string dataPath2;
  std::unique_ptr<AXUpdate> Update1;
  std::unique_ptr<AXUpdate> Update2;
  char key1[9] = {};
  char key2[9] = {};
  char key3[9] = {};
  char productModel[17] = {};
  char firmwareVersion[17] = {};
};

}  // namespace vortan
