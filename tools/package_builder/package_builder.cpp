// SPDX-License-Identifier: Apache-2.0
#include "package_builder/package_builder.h"

#include <charconv>
#include <fstream>
#include <span>

#include "package/package_layout.h"
#include "util/byte_order.h"
#include "util/byte_text.h"
#include "util/checksums.h"

namespace vortan::pack {
namespace {

namespace layout = package_layout;

struct FaultName {
  const char* name;
  Fault fault;
  bool perPack;
  bool needsValue;
};

constexpr FaultName kFaultNames[] = {
    {"count-byte", Fault::kCountByte, false, true},
    {"header-sum", Fault::kHeaderSum, false, false},
    {"descriptor-sum", Fault::kDescriptorSum, true, false},
    {"description-sum", Fault::kDescriptionSum, true, false},
    {"image-sum", Fault::kImageSum, true, false},
    {"description-outside", Fault::kDescriptionOutside, true, false},
    {"image-outside", Fault::kImageOutside, true, false},
    {"image-offset-wrap", Fault::kImageOffsetWrap, true, false},
    {"product-model", Fault::kProductModel, false, false},
    {"chip-family", Fault::kChipFamily, true, false},
    {"truncate", Fault::kTruncate, false, true},
};

bool PutText(std::vector<uint8_t>& bytes, uint32_t offset, uint32_t size, std::string_view text,
             std::string_view what, std::string& error) {
  if (text.size() > size) {
    error = std::string(what) + " \"" + std::string(text) + "\" is longer than " +
            std::to_string(size) + " bytes";
    return false;
  }
  std::copy(text.begin(), text.end(), bytes.begin() + offset);
  return true;
}

void SealHeader(std::vector<uint8_t>& bytes) {
  PutU32(&bytes[layout::kHeaderSum], ByteSum32(bytes.data(), layout::kHeaderSum));
}

void SealDescriptor(std::vector<uint8_t>& bytes, int pack) {
  const uint32_t start = layout::DescriptorStart(pack);
  PutU32(&bytes[start + layout::kDescriptorSum], ByteSum32(&bytes[start], layout::kDescriptorSum));
}

bool ParseNumber(std::string_view text, uint32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

void AddOne(std::vector<uint8_t>& bytes, uint32_t offset) {
  PutU32(&bytes[offset], GetU32(&bytes[offset]) + 1);
}

}  // namespace

bool BuildPackage(const PackageContents& contents, const Breakage& breakage,
                  std::vector<uint8_t>& out, std::string& error) {
  const int packs = static_cast<int>(contents.packs.size());
  if (packs < 1 || packs > 2) {
    error = "a package holds one or two data packs, not " + std::to_string(packs);
    return false;
  }
  if (breakage.pack < 1 || breakage.pack > packs) {
    error = "the breakage names data pack " + std::to_string(breakage.pack) + " of " +
            std::to_string(packs);
    return false;
  }
  uint64_t total = layout::kBlockSize * (1 + static_cast<uint64_t>(packs));
  for (const DataPackContents& pack : contents.packs)
    total += pack.description.size() + pack.image.size();
  if (total > UINT32_MAX) {
    error = "the package would exceed 4 GiB";
    return false;
  }
  std::vector<uint8_t> bytes(layout::kBlockSize * (1 + packs), 0);
  if (!PutText(bytes, layout::kProductModel, layout::kProductModelSize, contents.productModel,
               "product model", error) ||
      !PutText(bytes, layout::kFirmwareVersion, layout::kFirmwareVersionSize,
               contents.firmwareVersion, "firmware version", error)) {
    return false;
  }
  for (uint32_t k = 0; k < 3; ++k) {
    if (!PutText(bytes, layout::kKey1 + k * layout::kKeySize, layout::kKeySize, contents.keys[k],
                 "key name", error)) {
      return false;
    }
  }
  bytes[layout::kDataPackCount] = static_cast<uint8_t>(packs);

  for (int p = 1; p <= packs; ++p) {
    const DataPackContents& pack = contents.packs[p - 1];
    const uint32_t d = layout::DescriptorStart(p);
    if (!PutText(bytes, d + layout::kChipFamily, 2, pack.chipFamily, "chip family", error)) {
      return false;
    }
    PutU16(&bytes[d + layout::kChipFamily + 2], pack.familyTail);
    const auto place = [&](const uint8_t* data, size_t size, uint32_t fieldOffset) {
      PutU32(&bytes[d + fieldOffset], static_cast<uint32_t>(bytes.size()));
      PutU32(&bytes[d + fieldOffset + 4], static_cast<uint32_t>(size));
      PutU32(&bytes[d + fieldOffset + 8], ByteSum32(data, size));
      bytes.insert(bytes.end(), data, data + size);
    };
    const std::span<const uint8_t> description = AsBytes(pack.description);
    place(description.data(), description.size(), layout::kCnfgOffset);
    place(pack.image.data(), pack.image.size(), layout::kDataOffset);
  }

  const uint32_t d = layout::DescriptorStart(breakage.pack);
  const uint32_t fileLength = static_cast<uint32_t>(bytes.size());
  switch (breakage.fault) {
    case Fault::kNone:
      break;
    case Fault::kCountByte:
      bytes[layout::kDataPackCount] = static_cast<uint8_t>(breakage.value);
      break;
    case Fault::kHeaderSum:
    case Fault::kDescriptorSum:
      break;  // applied after sealing
    case Fault::kDescriptionSum:
      AddOne(bytes, d + layout::kCnfgSum);
      break;
    case Fault::kImageSum:
      AddOne(bytes, d + layout::kDataSum);
      break;
    case Fault::kDescriptionOutside:
      PutU32(&bytes[d + layout::kCnfgLength],
             fileLength - GetU32(&bytes[d + layout::kCnfgOffset]) + 1);
      break;
    case Fault::kImageOutside:
      PutU32(&bytes[d + layout::kDataLength],
             fileLength - GetU32(&bytes[d + layout::kDataOffset]) + 1);
      break;
    case Fault::kImageOffsetWrap:
      PutU32(&bytes[d + layout::kDataOffset], 0xFFFFFFF0u);
      PutU32(&bytes[d + layout::kDataLength], 0x20u);
      break;
    case Fault::kProductModel:
      std::fill_n(bytes.begin() + layout::kProductModel, layout::kProductModelSize, 0);
      PutText(bytes, layout::kProductModel, layout::kProductModelSize, "VORTAN KB 26", "", error);
      break;
    case Fault::kChipFamily:
      PutText(bytes, d + layout::kChipFamily, 2, "Z9", "", error);
      break;
    case Fault::kTruncate:
      if (breakage.value >= fileLength) {
        error = "truncation to " + std::to_string(breakage.value) + " bytes does not shorten a " +
                std::to_string(fileLength) + "-byte package";
        return false;
      }
      break;
  }
  SealHeader(bytes);
  for (int p = 1; p <= packs; ++p) SealDescriptor(bytes, p);
  if (breakage.fault == Fault::kHeaderSum) AddOne(bytes, layout::kHeaderSum);
  if (breakage.fault == Fault::kDescriptorSum) AddOne(bytes, d + layout::kDescriptorSum);
  if (breakage.fault == Fault::kTruncate) bytes.resize(breakage.value);
  out = std::move(bytes);
  return true;
}

bool WritePackageFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

std::vector<uint8_t> GenerateImage(size_t length, uint32_t seed) {
  std::vector<uint8_t> image(length);
  uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  for (uint8_t& byte : image) {
    // xorshift32: cheap, reproducible and free of long runs of equal bytes.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return image;
}

bool ParseBreakage(std::string_view text, Breakage& out) {
  const size_t cut = text.find_first_of(":=");
  const bool hasArg = cut != std::string_view::npos;
  const char separator = hasArg ? text[cut] : '\0';
  const std::string_view name = text.substr(0, cut);
  const std::string_view arg = hasArg ? text.substr(cut + 1) : std::string_view();
  for (const FaultName& entry : kFaultNames) {
    if (name != entry.name) continue;
    Breakage result;
    result.fault = entry.fault;
    if (entry.needsValue) {
      if (separator != '=' || !ParseNumber(arg, result.value)) return false;
    } else if (entry.perPack && hasArg) {
      uint32_t pack = 0;
      if (separator != ':' || !ParseNumber(arg, pack) || (pack != 1 && pack != 2)) return false;
      result.pack = static_cast<int>(pack);
    } else if (hasArg) {
      return false;
    }
    out = result;
    return true;
  }
  return false;
}

std::vector<std::string> BreakageNames() {
  std::vector<std::string> names;
  for (const FaultName& entry : kFaultNames) {
    names.push_back(std::string(entry.name) + (entry.needsValue ? "=N"
                                               : entry.perPack  ? "[:PACK]"
                                                                : ""));
  }
  return names;
}

}  // namespace vortan::pack
