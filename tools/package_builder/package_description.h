// SPDX-License-Identifier: Apache-2.0
#pragma once
// The package description file vortan-pack reads: JSON naming the texts and, per data pack, the
// chip family, the chip description (a file or inline text) and the image (a file or generated
// bytes). Example:
//
//   {
//     "productModel": "VORTAN KB 25", "firmwareVersion": "V2.1.0", "keys": ["Fn", "Esc"],
//     "dataPacks": [
//       {"chipFamily": "A2", "description": "a2_flash.ini",
//        "generatedImage": {"length": 40960, "seed": 25}}
//     ]
//   }
//
// A data pack takes exactly one of "description" / "descriptionText" and exactly one of
// "image" / "generatedImage". Unknown members are refused, so a misspelt one is not silently
// ignored.
#include <filesystem>
#include <string>
#include <string_view>

#include "package_builder/package_builder.h"

namespace vortan::pack {

// Relative file names are taken from `baseFolder`. False, with `error` set, on malformed JSON, a
// member of the wrong type, an unknown member, or a file that cannot be read.
bool ParsePackageDescription(std::string_view json, const std::filesystem::path& baseFolder,
                             PackageContents& out, std::string& error);

// Reads the description file at `path`; its folder is the base for relative file names.
bool LoadPackageDescription(const std::string& path, PackageContents& out, std::string& error);

}  // namespace vortan::pack
