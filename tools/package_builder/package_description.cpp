// SPDX-License-Identifier: Apache-2.0
#include "package_builder/package_description.h"

#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "util/byte_text.h"
#include "util/regular_file.h"

namespace vortan::pack {
namespace {

using nlohmann::json;

// Inputs larger than this are not package parts.
constexpr uint64_t kMaxInputBytes = uint64_t{1} << 30;

bool ReadInput(const std::filesystem::path& path, std::vector<uint8_t>& bytes, std::string& error) {
  ByteBuffer read;
  if (ReadRegularFile(path.string(), kMaxInputBytes, read)) {
    bytes.assign(read.begin(), read.end());
    return true;
  }
  error = "cannot read " + path.string();
  return false;
}

bool OnlyMembers(const json& object, const std::set<std::string>& allowed, std::string_view where,
                 std::string& error) {
  for (const auto& item : object.items()) {
    if (allowed.count(item.key()) == 0) {
      error = "unknown member \"" + item.key() + "\" in " + std::string(where);
      return false;
    }
  }
  return true;
}

bool GetString(const json& object, const char* name, std::string& out, std::string& error) {
  const auto it = object.find(name);
  if (it == object.end()) return true;
  if (!it->is_string()) {
    error = std::string("\"") + name + "\" must be a string";
    return false;
  }
  out = it->get<std::string>();
  return true;
}

bool GetUnsigned(const json& object, const char* name, uint64_t max, uint64_t& out,
                 std::string& error) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_number_unsigned() || it->get<uint64_t>() > max) {
    error = std::string("\"") + name + "\" must be a number from 0 to " + std::to_string(max);
    return false;
  }
  out = it->get<uint64_t>();
  return true;
}

bool ParseDataPack(const json& object, const std::filesystem::path& base, DataPackContents& pack,
                   std::string& error) {
  if (!object.is_object()) {
    error = "each data pack must be an object";
    return false;
  }
  if (!OnlyMembers(
          object,
          {"chipFamily", "familyTail", "description", "descriptionText", "image", "generatedImage"},
          "a data pack", error) ||
      !GetString(object, "chipFamily", pack.chipFamily, error)) {
    return false;
  }
  if (object.contains("familyTail")) {
    uint64_t tail = 0;
    if (!GetUnsigned(object, "familyTail", 0xFFFF, tail, error)) return false;
    pack.familyTail = static_cast<uint16_t>(tail);
  }

  if (object.contains("description") == object.contains("descriptionText")) {
    error = "a data pack needs exactly one of \"description\" and \"descriptionText\"";
    return false;
  }
  if (object.contains("description")) {
    std::string name;
    std::vector<uint8_t> bytes;
    if (!GetString(object, "description", name, error) || !ReadInput(base / name, bytes, error)) {
      return false;
    }
    pack.description.assign(bytes.begin(), bytes.end());
  } else if (!GetString(object, "descriptionText", pack.description, error)) {
    return false;
  }

  if (object.contains("image") == object.contains("generatedImage")) {
    error = "a data pack needs exactly one of \"image\" and \"generatedImage\"";
    return false;
  }
  if (object.contains("image")) {
    std::string name;
    return GetString(object, "image", name, error) && ReadInput(base / name, pack.image, error);
  }
  const json& generated = object["generatedImage"];
  uint64_t length = 0;
  uint64_t seed = 0;
  if (!generated.is_object() ||
      !OnlyMembers(generated, {"length", "seed"}, "\"generatedImage\"", error) ||
      !GetUnsigned(generated, "length", kMaxInputBytes, length, error) ||
      !GetUnsigned(generated, "seed", UINT32_MAX, seed, error)) {
    if (error.empty()) error = "\"generatedImage\" must be an object";
    return false;
  }
  pack.image = GenerateImage(static_cast<size_t>(length), static_cast<uint32_t>(seed));
  return true;
}

}  // namespace

bool ParsePackageDescription(std::string_view text, const std::filesystem::path& baseFolder,
                             PackageContents& out, std::string& error) {
  error.clear();
  const json root = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded() || !root.is_object()) {
    error = "the description is not a JSON object";
    return false;
  }
  PackageContents contents;
  if (!OnlyMembers(root, {"productModel", "firmwareVersion", "keys", "dataPacks"}, "the package",
                   error) ||
      !GetString(root, "productModel", contents.productModel, error) ||
      !GetString(root, "firmwareVersion", contents.firmwareVersion, error)) {
    return false;
  }
  if (root.contains("keys")) {
    const json& keys = root["keys"];
    if (!keys.is_array() || keys.size() > 3) {
      error = "\"keys\" must be a list of up to three names";
      return false;
    }
    for (size_t k = 0; k < keys.size(); ++k) {
      if (!keys[k].is_string()) {
        error = "each key name must be a string";
        return false;
      }
      contents.keys[k] = keys[k].get<std::string>();
    }
  }
  const auto packs = root.find("dataPacks");
  if (packs == root.end() || !packs->is_array()) {
    error = "\"dataPacks\" must be a list";
    return false;
  }
  for (const json& object : *packs) {
    DataPackContents pack;
    if (!ParseDataPack(object, baseFolder, pack, error)) return false;
    contents.packs.push_back(std::move(pack));
  }
  out = std::move(contents);
  return true;
}

bool LoadPackageDescription(const std::string& path, PackageContents& out, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!ReadInput(path, bytes, error)) return false;
  const std::string_view text = AsText(bytes);
  if (ParsePackageDescription(text, std::filesystem::path(path).parent_path(), out, error)) {
    return true;
  }
  error = path + ": " + error;
  return false;
}

}  // namespace vortan::pack
