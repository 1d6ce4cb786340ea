// The package object's updaters: made by chip family, replaced on every package, counted,
// stepped only when ready, and refused when what they read back is not the package's own bytes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "package/dat_file_examine.h"
#include "support/package_fixtures.h"
#include "support/temp_dir.h"
#include "updaters/a1_update.h"
#include "updaters/a2_update.h"
#include "updaters/c1_update.h"

namespace vortan {
namespace {

using pack::DataPackContents;
using testing::A1Pack;
using testing::A2Pack;
using testing::C1Pack;

constexpr uint32_t kNone = 0;
constexpr uint32_t kA2 = A2Update::kFamilyCode;
constexpr uint32_t kC1 = C1Update::kFamilyCode;
constexpr uint32_t kA1 = A1Update::kFamilyCode;

uint32_t FamilyOf(const AXUpdate* updater) {
  return updater ? updater->Geometry().family : kNone;
}

DataPackContents Unknown(DataPackContents pack) {
  pack.chipFamily = "Z9";
  return pack;
}

class PackageObjectTest : public ::testing::Test {
 protected:
  bool Open(std::vector<DataPackContents> packs) {
    const pack::PackageContents contents = testing::PackageOf(std::move(packs));
    return datFile_.ReadFile(testing::WritePackage(dir_, "package.dat", contents)) &&
           datFile_.Examine();
  }
  void Tamper(const char* name, const std::function<void(std::vector<uint8_t>&)>& change) {
    datFile_.SetWorkFilesWrittenHook([this, name, change] {
      std::vector<uint8_t> bytes = testing::ReadBytes(work_.File(name));
      change(bytes);
      ASSERT_TRUE(testing::WriteBytes(work_.File(name), bytes));
    });
  }

  testing::TempDir dir_;
  testing::TempDir work_;
  DatFileExamine datFile_{work_.path().string()};
};

TEST_F(PackageObjectTest, UpdatersFollowTheChipFamiliesAndTheirStepCountsAddUp) {
  struct Case {
    const char* name;
    std::vector<DataPackContents> packs;
    bool ready;
    uint32_t update1;
    uint32_t update2;
  };
  const Case cases[] = {
      {"A2 then A1", {A2Pack(), A1Pack()}, true, kA2, kA1},
      {"C1 then A2", {C1Pack(), A2Pack()}, true, kC1, kA2},
      // Pack 1 loaded, yet an unknown second family refuses the package.
      {"A2 then unknown", {A2Pack(), Unknown(A1Pack())}, false, kA2, kNone},
      {"unknown first", {Unknown(C1Pack()), A2Pack()}, false, kNone, kNone},
      // One pack after two: the second updater is gone.
      {"A1 after two packs", {A1Pack()}, true, kA1, kNone},
      // Pack 2 is not looked at when pack 1 fails its Load (an empty image).
      {"pack 1 fails its load", {C1Pack(0), A2Pack()}, false, kC1, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Open(c.packs), c.ready);
    EXPECT_EQ(datFile_.IsFileReady(), c.ready);
    EXPECT_EQ(datFile_.CountDataPack(), c.packs.size());
    EXPECT_EQ(FamilyOf(datFile_.Updater(1)), c.update1);
    EXPECT_EQ(FamilyOf(datFile_.Updater(2)), c.update2);
    // A package that is not ready has no steps to run, whatever its updaters hold.
    EXPECT_EQ(datFile_.TotalStepCount() > 0, c.ready);
    if (!c.ready) {
      EXPECT_FALSE(datFile_.DoStep(0));
    }
  }
}

// Guards against the device receiving bytes that changed on disk after the sums were checked.
TEST_F(PackageObjectTest, WorkFilesChangedBeforeTheUpdatersReadThemAreRefused) {
  const auto flipLast = [](std::vector<uint8_t>& b) { b.back() ^= 0x01; };
  const auto append = [](std::vector<uint8_t>& b) { b.push_back(b.back()); };
  const auto dropLast = [](std::vector<uint8_t>& b) { b.pop_back(); };
  // The fixture descriptions start with a comment: a changed comment still loads.
  const auto flipComment = [](std::vector<uint8_t>& b) { b[3] ^= 0x20; };
  const auto unchanged = [](std::vector<uint8_t>&) {};
  struct Case {
    const char* name;
    const char* file;
    std::function<void(std::vector<uint8_t>&)> change;
    bool ready;
  };
  const Case cases[] = {
      {"nothing changed", "TEMP1.BIN", unchanged, true},
      {"image 1 byte changed", "TEMP1.BIN", flipLast, false},
      {"image 1 longer", "TEMP1.BIN", append, false},
      {"image 1 shorter", "TEMP1.BIN", dropLast, false},
      {"description 1 comment changed", "TEMP1.INI", flipComment, false},
      {"image 2 byte changed", "TEMP2.BIN", flipLast, false},
      {"description 2 comment changed", "TEMP2.INI", flipComment, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tamper(c.file, c.change);
    EXPECT_EQ(Open({A2Pack(), A1Pack()}), c.ready);
  }
}

}  // namespace
}  // namespace vortan
