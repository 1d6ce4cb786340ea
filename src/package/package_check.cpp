// SPDX-License-Identifier: Apache-2.0
#include "package/package_check.h"

#include "package/package_layout.h"
#include "util/byte_order.h"
#include "util/checksums.h"

namespace vortan {
namespace {

namespace layout = package_layout;
using enum PackageRefusal;

// Where a section's offset, length and sum sit in a descriptor, what refuses it, and where the
// package's facts keep it.
struct SectionRule {
  uint32_t offsetField;
  uint32_t lengthField;
  uint32_t sumField;
  PackageRefusal outside;
  PackageRefusal sumDiffers;
  uint32_t PackFields::*addr;
  uint32_t PackFields::*length;
};

// Chip descriptions first, then images, each for pack 1 before pack 2.
constexpr SectionRule kSectionRules[] = {
    {layout::kCnfgOffset, layout::kCnfgLength, layout::kCnfgSum, kDescriptionOutside,
     kDescriptionSum, &PackFields::cnfgAddr, &PackFields::cnfgLength},
    {layout::kDataOffset, layout::kDataLength, layout::kDataSum, kImageOutside, kImageSum,
     &PackFields::dataAddr, &PackFields::dataLength},
};

uint32_t WordAt(std::span<const uint8_t> bytes, uint32_t offset) {
  return GetU32(&bytes[offset]);
}

// The header and each descriptor end in the byte sum of their first 124 bytes.
bool BlockSumMatches(std::span<const uint8_t> bytes, uint32_t start) {
  return ByteSum32(&bytes[start], layout::kDescriptorSum) ==
         WordAt(bytes, start + layout::kDescriptorSum);
}

bool Refuse(PackageFormat& format, PackageRefusal refusal, int pack) {
  format.refusal = refusal;
  format.pack = pack;
  return false;
}

bool CheckBlocks(std::span<const uint8_t> bytes, PackageFormat& format) {
  if (bytes.size() < layout::kBlockSize) return Refuse(format, kTooShort, 0);
  format.countDataPack = bytes[layout::kDataPackCount];
  if (format.countDataPack != 1 && format.countDataPack != 2) {
    return Refuse(format, kDataPackCount, 0);
  }
  if (!BlockSumMatches(bytes, 0)) return Refuse(format, kHeaderSum, 0);
  for (int pack = 1; pack <= format.countDataPack; ++pack) {
    const uint32_t start = layout::DescriptorStart(pack);
    if (bytes.size() < start + layout::kBlockSize) return Refuse(format, kTooShort, pack);
    if (!BlockSumMatches(bytes, start)) return Refuse(format, kDescriptorSum, pack);
    format.packs[pack - 1].dataType = WordAt(bytes, start + layout::kChipFamily);
  }
  return true;
}

bool CheckSections(std::span<const uint8_t> bytes, PackageFormat& format) {
  for (const SectionRule& rule : kSectionRules) {
    for (int pack = 1; pack <= format.countDataPack; ++pack) {
      const uint32_t start = layout::DescriptorStart(pack);
      PackFields& fields = format.packs[pack - 1];
      const uint32_t addr = fields.*rule.addr = WordAt(bytes, start + rule.offsetField);
      const uint32_t length = fields.*rule.length = WordAt(bytes, start + rule.lengthField);
      if (!SectionInPackage(bytes, addr, length)) return Refuse(format, rule.outside, pack);
      if (ByteSum32(bytes.data() + addr, length) != WordAt(bytes, start + rule.sumField)) {
        return Refuse(format, rule.sumDiffers, pack);
      }
    }
  }
  return true;
}

}  // namespace

PackageFormat CheckPackageFormat(std::span<const uint8_t> bytes) {
  PackageFormat format;
  if (!CheckBlocks(bytes, format) || !CheckSections(bytes, format)) return format;
  const std::string_view model(reinterpret_cast<const char*>(&bytes[layout::kProductModel]),
                               layout::kProductModelSize);
  if (!ProductModelNamesDevice(model)) Refuse(format, kProductModel, 0);
  return format;
}

bool SectionInPackage(std::span<const uint8_t> bytes, uint64_t offset, uint64_t length) {
  // Compared without adding, so no offset + length can wrap.
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

bool ProductModelNamesDevice(std::string_view productModel) {
  const std::string_view model = productModel.substr(0, productModel.find('\0'));
  return model.find("VORTAN") != std::string_view::npos &&
         model.find("25") != std::string_view::npos;
}

}  // namespace vortan
