// SPDX-License-Identifier: Apache-2.0
#include "cli/package_opening.h"

#include <iostream>

#include "app/user_texts.h"
#include "util/marker_text.h"

namespace vortan::cli {

bool OpenPackage(DatFileExamine& datFile, const std::string& path) {
  if (!datFile.ReadFile(path)) {
    std::cerr << ReplaceMarkers(kTextUnableToOpen, {path}) << '\n';
    if (!datFile.FailureReason().empty()) std::cerr << datFile.FailureReason() << '\n';
    return false;
  }
  if (!datFile.Examine()) {
    std::cerr << ReplaceMarkers(datFile.LackedMemory() ? kTextUnableToOpen : kTextFormatError,
                                {path})
              << '\n';
    if (!datFile.FailureReason().empty()) std::cerr << datFile.FailureReason() << '\n';
    return false;
  }
  return true;
}

}  // namespace vortan::cli
