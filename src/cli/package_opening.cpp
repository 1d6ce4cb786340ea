#include "cli/package_opening.h"

#include <iostream>

namespace vortan::cli {

std::string WithPath(std::string_view format, const std::string& text) {
  std::string out(format);
  const size_t at = out.find("%@");
  if (at != std::string::npos) out.replace(at, 2, text);
  return out;
}

bool OpenPackage(DatFileExamine& datFile, const std::string& path) {
  if (!datFile.ReadFile(path)) {
    std::cerr << WithPath(kUnableToOpen, path) << '\n';
    if (!datFile.FailureReason().empty()) std::cerr << datFile.FailureReason() << '\n';
    return false;
  }
  if (!datFile.Examine()) {
    std::cerr << WithPath(kFormatError, path) << '\n';
    if (!datFile.FailureReason().empty()) std::cerr << datFile.FailureReason() << '\n';
    return false;
  }
  return true;
}

}  // namespace vortan::cli
