// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/package_steps.h"
#include "app/update_run.h"
#include "emulator/a1_model.h"
#include "emulator/a2_model.h"
#include "emulator/c1_model.h"
#include "emulator/simulation/simulated_device.h"
#include "link/hid_device.h"
#include "package/dat_file_examine.h"
#include "support/package_fixtures.h"
#include "support/simulated_link.h"
#include "support/temp_dir.h"
#include "util/clock.h"
#include "util/diag_log.h"

namespace vortan {
namespace {

using testing::A1Pack;
using testing::A2Pack;
using testing::C1Pack;

pack::PackageContents Packs(std::vector<pack::DataPackContents> packs) {
  pack::PackageContents contents = testing::OnePackPackage();
  contents.packs = std::move(packs);
  return contents;
}

// The fixture's A2 description with buffer programming in place of word programming.
pack::DataPackContents A2BufferPack() {
  pack::DataPackContents pack = A2Pack();
  const std::string from = "Mode = 0";
  pack.description.replace(pack.description.find(from), from.size(), "Mode = 1");
  return pack;
}

// Models set by hand for the fixture descriptions, independent of the fitting --simulate uses.
void AddHandModels(emu::LoaderDevice& device) {
  emu::A2ModelConfig a2;
  a2.sectorAddresses = {0x0000, 0x1000, 0x2000, 0x6000, 0xA000};
  device.AddFamily(1, std::make_unique<emu::A2Model>(a2));
  device.AddFamily(3, std::make_unique<emu::C1Model>(emu::C1ModelConfig{.capacity = 0x100000}));
  device.AddFamily(2, std::make_unique<emu::A1Model>(
                          emu::A1ModelConfig{.startAddress = 0x4000, .chipSize = 0x20000}));
}

class PackageUpdateTest : public ::testing::Test {
 protected:
  void Open(const pack::PackageContents& contents) {
    ASSERT_TRUE(datFile_.ReadFile(testing::WritePackage(dir_, "update.dat", contents)));
    ASSERT_TRUE(datFile_.Examine());
  }
  std::vector<int32_t> Run() {
    std::vector<int32_t> progress;
    RunUpdate(PackageSteps(datFile_), [&](int32_t v) { progress.push_back(v); });
    return progress;
  }
  void ExpectLinkClosed() {
    EXPECT_FALSE(HidDevice::Instance().IsOpen());
    EXPECT_EQ(link_.emulator().OpenHandles(), 0);
  }
  void ExpectHoldsEveryImage(const emu::LoaderDevice& device) {
    for (int pack = 1; pack <= datFile_.CountDataPack(); ++pack) {
      EXPECT_TRUE(testing::HoldsImage(device, *datFile_.Updater(pack))) << "pack " << pack;
    }
  }

  ~PackageUpdateTest() override { SetLogSink(previousLog_); }

  VirtualClock clock_;
  ScopedProcessClock useClock_{&clock_};
  LogSink previousLog_ = SetLogSink([](std::string_view) {});
  testing::SimulatedLink link_;
  testing::TempDir dir_;
  testing::TempDir work_;
  DatFileExamine datFile_{work_.path().string()};
};

TEST_F(PackageUpdateTest, WholeUpdatesFollowTheStepPlanAndLeaveEveryImageOnTheDevice) {
  struct Case {
    const char* name;
    std::vector<pack::DataPackContents> packs;
  };
  const Case cases[] = {
      {"A2", {A2Pack()}},
      {"A2 buffer programming", {A2BufferPack()}},
      {"C1", {C1Pack()}},
      {"A1", {A1Pack()}},
      {"A2 then A1", {A2Pack(), A1Pack()}},
      {"C1 then A2", {C1Pack(), A2Pack()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open(Packs(c.packs));
    emu::LoaderDevice& device = emu::AttachSimulatedDevice(link_.emulator());
    AddHandModels(device);
    const int32_t total = datFile_.TotalStepCount();
    std::vector<int32_t> expected;
    for (int32_t i = 0; i < total; ++i) expected.push_back(i);
    expected.push_back(kProgressSuccess);

    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(device.LastFinishOutcome(), std::optional<uint8_t>(0));
    EXPECT_EQ(device.MessageCount("update_mode"), datFile_.CountDataPack());
    ExpectLinkClosed();
    ExpectHoldsEveryImage(device);
    device.Unplug();  // the next case gets a device of its own
  }
}

// Guards against refusing descriptions that hold bytes of 0x80 and above (the read-back after
// Load compared them as signed text with the package's unsigned bytes).
TEST_F(PackageUpdateTest, DescriptionsBeyondAsciiUpdateExactlyLikeTheirAsciiTwins) {
  // The progress and every report on the link.
  const auto update = [&](const pack::DataPackContents& pack) {
    Open(Packs({pack}));
    emu::LoaderDevice& device = emu::AttachSimulatedDevice(link_.emulator());
    EXPECT_TRUE(emu::FitSimulatedDevice(device, datFile_));
    link_.emulator().ClearTrace();
    const std::vector<int32_t> progress = Run();
    device.Unplug();
    return std::make_pair(progress, link_.emulator().Trace());
  };
  const std::map<std::string, std::pair<std::vector<int32_t>, std::vector<std::string>>> twins = {
      {"A2", update(A2Pack())}, {"C1", update(C1Pack())}, {"A1", update(A1Pack())}};
  for (const auto& [family, twin] : twins) ASSERT_EQ(twin.first.back(), kProgressSuccess) << family;
  for (const testing::ForeignTextPack& row : testing::ForeignTextPacks()) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(update(row.pack) == twins.at(row.family));
  }
}

TEST_F(PackageUpdateTest, EveryFaultOfEveryCommandEndsTheRunCleanlyAndANewRunSucceeds) {
  struct Kind {
    const char* name;
    int echoByte = 0;  // a reply byte the host compares
    // False where the host by design does not examine reply byte 0 (erase polls read only the
    // word at bytes 5-6): a wrong status there must not fail the run.
    bool statusExamined = true;
  };
  struct Family {
    const char* name;
    pack::DataPackContents pack;
    std::vector<Kind> kinds;
  };
  const std::vector<Kind> common = {{"update_mode"}, {"region_check"}, {"finish"}};
  const Family families[] = {
      {"A2",
       A2Pack(),
       {{"a2.erase_cycle"},
        {"a2.erase_poll", 5, false},
        {"a2.program_cycle"},
        {"a2.write"},
        {"a2.data"}}},
      {"A2 buffer", A2BufferPack(), {{"a2.write_buffer_cycle"}, {"a2.program_buffer_cycle"}}},
      {"C1",
       C1Pack(),
       {{"c1.setup"}, {"c1.erase"}, {"c1.erase_poll", 5, false}, {"c1.write"}, {"c1.data"}}},
      {"A1", A1Pack(0x80), {{"a1.write"}, {"a1.data"}}},
  };
  const emu::FaultType faults[] = {emu::FaultType::kNoReply, emu::FaultType::kWrongEcho,
                                   emu::FaultType::kWrongStatus, emu::FaultType::kUnplug};
  for (const Family& family : families) {
    Open(Packs({family.pack}));
    std::vector<Kind> kinds = family.kinds;
    kinds.insert(kinds.end(), common.begin(), common.end());
    for (const Kind& kind : kinds) {
      for (const emu::FaultType type : faults) {
        SCOPED_TRACE(std::string(family.name) + " " + kind.name + " fault " +
                     std::to_string(static_cast<int>(type)));
        emu::LoaderDevice* device = &emu::AttachSimulatedDevice(link_.emulator());
        ASSERT_TRUE(emu::FitSimulatedDevice(*device, datFile_));
        // Every occurrence, so the updaters' own retries cannot get past it.
        device->AddFault({.type = type,
                          .kind = kind.name,
                          .occurrence = 0,
                          .byte = kind.echoByte,
                          .value = 0x5A});

        const std::vector<int32_t> progress = Run();
        ASSERT_FALSE(progress.empty());
        EXPECT_GT(device->MessageCount(kind.name), 0) << "the fault never met its command";
        ExpectLinkClosed();
        const bool unplugged = type == emu::FaultType::kUnplug;
        // A finish fault comes after the data was verified: the run still succeeds.
        const bool succeeds = std::string(kind.name) == "finish" ||
                              (type == emu::FaultType::kWrongStatus && !kind.statusExamined);
        EXPECT_EQ(progress.back(), succeeds ? kProgressSuccess : kProgressFailure);
        if (!succeeds && !unplugged) {
          EXPECT_EQ(device->LastFinishOutcome(), std::optional<uint8_t>(1));
        }

        if (unplugged) {
          device = &emu::AttachSimulatedDevice(link_.emulator());
          ASSERT_TRUE(emu::FitSimulatedDevice(*device, datFile_));
        } else {
          // Closing the link discarded the failed run's unread replies.
          device->ClearFaults();
        }
        EXPECT_EQ(Run().back(), kProgressSuccess);
        EXPECT_EQ(device->LastFinishOutcome(), std::optional<uint8_t>(0));
        ExpectLinkClosed();
        ExpectHoldsEveryImage(*device);
        device->Unplug();
      }
    }
  }
}

// Guards against a refused package running steps with the updater it left behind.
TEST_F(PackageUpdateTest, APackageThatIsNotReadyRunsNothing) {
  Open(Packs({A2Pack()}));
  emu::LoaderDevice& device = emu::AttachSimulatedDevice(link_.emulator());
  ASSERT_TRUE(emu::FitSimulatedDevice(device, datFile_));
  ASSERT_TRUE(datFile_.ReadFile(testing::WritePackage(
      dir_, "refused.dat", Packs({A2Pack(), A1Pack()}), {pack::Fault::kChipFamily, 2})));
  EXPECT_FALSE(datFile_.Examine());
  ASSERT_NE(datFile_.Updater(1), nullptr);

  EXPECT_EQ(Run(), std::vector<int32_t>{kProgressFailure});
  EXPECT_EQ(device.MessageCount("update_mode"), 0);
  EXPECT_EQ(device.LastFinishOutcome(), std::nullopt);
  ExpectLinkClosed();
}

}  // namespace
}  // namespace vortan
