// SPDX-License-Identifier: Apache-2.0
// The format checks over a package's bytes: every rule refuses on its own and names the data
// pack it concerns, and an accepted package yields exactly the fields its descriptors hold.
#include "package/package_check.h"

#include <gtest/gtest.h>

#include <tuple>

#include "package_builder/package_builder.h"

namespace vortan {
namespace {

using enum PackageRefusal;
using pack::Breakage;
using pack::Fault;

// Small sections keep the expected offsets plain: they follow the descriptors in the order
// description 1, image 1, description 2, image 2.
const pack::DataPackContents kPack1{"A2", 0, "ab", {1, 2, 3}};
const pack::DataPackContents kPack2{"A1", 0, "cde", {4, 5}};

pack::PackageContents Package(std::string model, std::vector<pack::DataPackContents> packs) {
  pack::PackageContents contents;
  contents.productModel = std::move(model);
  contents.packs = std::move(packs);
  return contents;
}

const pack::PackageContents kOne = Package("VORTAN KB 25", {kPack1});
const pack::PackageContents kTwo = Package("VORTAN KB 25", {kPack1, kPack2});

PackageFormat Check(const pack::PackageContents& contents, const Breakage& breakage = {}) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(pack::BuildPackage(contents, breakage, bytes, error)) << error;
  return CheckPackageFormat(bytes);
}

TEST(PackageCheckTest, EachRuleRefusesOnItsOwnAndNamesItsPack) {
  struct Case {
    const char* name;
    pack::PackageContents contents;
    Breakage breakage;
    PackageRefusal refusal;
    int pack;
  };
  const Case cases[] = {
      // Too short for the blocks declared: the length is checked before each block is read.
      {"no bytes", kOne, {Fault::kTruncate, 1, 0}, kTooShort, 0},
      {"no room for the count byte", kOne, {Fault::kTruncate, 1, 127}, kTooShort, 0},
      {"no room for descriptor 1", kOne, {Fault::kTruncate, 1, 255}, kTooShort, 1},
      {"no room for descriptor 2", kTwo, {Fault::kTruncate, 1, 383}, kTooShort, 2},
      {"sections cut off", kTwo, {Fault::kTruncate, 1, 385}, kDescriptionOutside, 1},
      // The count is refused before any sum is computed.
      {"count byte 0", kOne, {Fault::kCountByte, 1, 0}, kDataPackCount, 0},
      {"count byte 3", kOne, {Fault::kCountByte, 1, 3}, kDataPackCount, 0},
      {"count byte 255", kTwo, {Fault::kCountByte, 1, 255}, kDataPackCount, 0},
      {"header sum", kOne, {Fault::kHeaderSum}, kHeaderSum, 0},
      {"descriptor 1 sum", kOne, {Fault::kDescriptorSum, 1}, kDescriptorSum, 1},
      {"descriptor 2 sum", kTwo, {Fault::kDescriptorSum, 2}, kDescriptorSum, 2},
      {"chip description 1 sum", kTwo, {Fault::kDescriptionSum, 1}, kDescriptionSum, 1},
      {"chip description 2 sum", kTwo, {Fault::kDescriptionSum, 2}, kDescriptionSum, 2},
      {"image 1 sum", kTwo, {Fault::kImageSum, 1}, kImageSum, 1},
      {"image 2 sum", kTwo, {Fault::kImageSum, 2}, kImageSum, 2},
      {"chip description 1 past the end",
       kOne,
       {Fault::kDescriptionOutside, 1},
       kDescriptionOutside,
       1},
      {"chip description 2 past the end",
       kTwo,
       {Fault::kDescriptionOutside, 2},
       kDescriptionOutside,
       2},
      {"image 1 past the end", kOne, {Fault::kImageOutside, 1}, kImageOutside, 1},
      {"image 2 past the end", kTwo, {Fault::kImageOutside, 2}, kImageOutside, 2},
      // A 32-bit offset + length would wrap to 0x10 and pass.
      {"image 1 offset wraps", kOne, {Fault::kImageOffsetWrap, 1}, kImageOutside, 1},
      {"image 2 offset wraps", kTwo, {Fault::kImageOffsetWrap, 2}, kImageOutside, 2},
      {"product model without 25", kOne, {Fault::kProductModel}, kProductModel, 0},
      {"model VORTAN KB 26", Package("VORTAN KB 26", {kPack1}), {}, kProductModel, 0},
      {"model KB 25", Package("KB 25", {kPack1}), {}, kProductModel, 0},
      {"model case differs", Package("Vortan KB 25", {kPack1}), {}, kProductModel, 0},
      {"model 25 after its NUL",
       Package(std::string("VORTAN\0 25", 10), {kPack1}),
       {},
       kProductModel,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PackageFormat format = Check(c.contents, c.breakage);
    EXPECT_EQ(std::tie(format.refusal, format.pack), std::tie(c.refusal, c.pack));
  }
}

TEST(PackageCheckTest, AnAcceptedPackageYieldsTheFieldsOfItsDescriptors) {
  pack::PackageContents tail = kOne;
  tail.packs[0].familyTail = 0xBEEF;
  const pack::DataPackContents empty{"C1", 0, "", {}};
  // Words at +44, +64, +68, +112, +116 of each descriptor.
  const PackFields a2At256{0x3241, 256, 2, 258, 3};
  struct Case {
    const char* name;
    pack::PackageContents contents;
    PackageFormat expected;
  };
  const Case cases[] = {
      {"one pack", kOne, {kNone, 0, 1, {a2At256}}},
      {"two packs", kTwo, {kNone, 0, 2, {{{0x3241, 384, 2, 386, 3}, {0x3141, 389, 3, 392, 2}}}}},
      {"25 before VORTAN", Package("25 VORTAN", {kPack1}), {kNone, 0, 1, {a2At256}}},
      {"model fills its field, no NUL",
       Package("VORTAN KB 25 PRO", {kPack1}),
       {kNone, 0, 1, {a2At256}}},
      {"bytes after the family read, not judged",
       tail,
       {kNone, 0, 1, {{{0xBEEF3241, 256, 2, 258, 3}}}}},
      // Exactly the blocks declared, with empty sections right after them.
      {"256-byte package",
       Package("VORTAN KB 25", {empty}),
       {kNone, 0, 1, {{{0x3143, 256, 0, 256, 0}}}}},
      {"384-byte package",
       Package("VORTAN KB 25", {empty, empty}),
       {kNone, 0, 2, {{{0x3143, 384, 0, 384, 0}, {0x3143, 384, 0, 384, 0}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(Check(c.contents) == c.expected);
  }
}

}  // namespace
}  // namespace vortan
