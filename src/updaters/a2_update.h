// SPDX-License-Identifier: Apache-2.0
#pragma once
// The updater of the A2 chip family: a flash of 16-bit words behind the loader, organised in the
// sectors a chip description lists and driven by the bus cycles it supplies. Each middle step
// erases one sector (polling until it reads blank), hands the loader the programming cycles and
// streams the sector's share of the image in write commands; the final step asks the loader for
// a word checksum of every programmed sector. Reserved sectors are never touched.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "updaters/a2_settings.h"
#include "updaters/a2_step_plan.h"
#include "updaters/ax_update.h"
#include "updaters/chip_description_reader.h"

namespace vortan {

class A2Update final : public AXUpdate {
 public:
  static constexpr uint32_t kFamilyCode = 1;
  // A sector whose erase has not read blank after this many issues of the erase (each with a
  // fresh wait of maxSectorEraseTime) fails its step: about 10 s with the default time.
  static constexpr int kMaxEraseIssues = 5;
  // Programming attempts of a sector, each after a fresh erase.
  static constexpr int kProgramAttempts = 6;
  // Repeated sends of a cycle command whose echo came back wrong.
  static constexpr int kProgramCycleRepeats = 10;
  static constexpr int kBufferCycleRepeats = 5;
  // A first poll comes after 700 ms, so a shorter erase time could never see two blank reads.
  static constexpr uint32_t kMinSectorEraseTime = 700;

  A2Update(std::string cnfgPath, std::string dataPath);
  ~A2Update() override;

  // Reads the description from memory after ReadDescriptionFile, checks it, reads the image and
  // plans the steps. False on the first of these that fails.
  bool Load() override;
  // The description's checks, plus refusals of settings that cannot work on the device: an
  // erase time below kMinSectorEraseTime, a blankValue no 16-bit word can equal, a cycle count
  // above kA2MaxCommandCycles for the cycle commands, a sector list of one entry or one that
  // does not ascend strictly.
  bool CheckSettings() override;
  bool PrepareSteps() override;
  // Sector `index` (0 to sectorsToProgram - 1): skipped if reserved, else erased and programmed,
  // with up to kProgramAttempts attempts. Independent of earlier steps: the plan holds each
  // sector's image position.
  bool RunStep(int index) override;
  // Region check of every programmed sector that is not reserved.
  bool FinalStep(int step) override;
  std::vector<PlannedRegion> PlannedRegions() const override;
  FlashGeometry Geometry() const override;

  const A2Settings& Settings() const { return settings; }
  // Valid after a successful PrepareSteps.
  const A2StepPlan& Plan() const { return plan; }
  int32_t SectorsToProgram() const { return static_cast<int32_t>(plan.sectors.size()); }

 private:
  void ResetSettings();
  int64_t SectorSize(int index) const;
  bool IsReservedSector(int index) const;
  // Erases sector `index` and waits until it reads blank, issuing the erase again after each
  // wait of maxSectorEraseTime, at most kMaxEraseIssues times.
  bool EraseSector(int index);
  // Programming of sector `index` by word or by buffer: the cycle commands, then the data.
  bool WordProgramSector(int index);
  bool BufferProgramSector(int index);
  // The sector's share of the image in write commands of at most blockSize words.
  bool WriteSectorData(int index);
  std::vector<ChipSection> Sections();
  // Sends the erase cycles of the sector at `address`, then the first erase poll.
  bool IssueErase(uint32_t address);
  // Sends a cycle command until its echo is right, at most 1 + `repeats` times. A failed send or
  // read ends it at once; a reply of the wrong length or content counts as a wrong echo.
  bool ExchangeCycles(const std::vector<uint8_t>& request, int repeats);
  const A2SectorStep* StepOf(int index) const;

  A2Settings settings;
  A2StepPlan plan;
  // The address and data lines of the cycle sections count once the section's last fixed key
  // has been read; every header switches them off.
  bool cycleLinesOn = false;
};

}  // namespace vortan
