// SPDX-License-Identifier: Apache-2.0
#include "cli/reporter.h"

#include "cli/reporter_human.h"
#include "cli/reporter_json.h"

namespace vortan::cli {

std::unique_ptr<Reporter> MakeReporter(bool json, bool terminal) {
  if (json) return std::make_unique<JsonReporter>(terminal);
  return std::make_unique<HumanReporter>(terminal);
}

int32_t PackStepCount(const DatFileExamine& datFile, int pack) {
  const AXUpdate* updater = datFile.Updater(pack);
  return updater ? updater->StepCount() : 0;
}

}  // namespace vortan::cli
