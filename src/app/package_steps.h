// SPDX-License-Identifier: Apache-2.0
#pragma once
// The update run's view of the package object: RunUpdate(PackageSteps(datFile), sink) runs the
// package's whole update. A package that is not ready has no steps, so such a run reports a
// failure and sends nothing to the device.
#include <cstdint>

#include "app/update_run.h"
#include "package/dat_file_examine.h"

namespace vortan {

class PackageSteps final : public UpdateSteps {
 public:
  // `package` must outlive this object and must not be opened anew during the run.
  explicit PackageSteps(DatFileExamine& package) : package_(package) {}

  int32_t TotalStepCount() override { return package_.TotalStepCount(); }
  bool DoStep(uint32_t index) override { return package_.DoStep(index); }
  void Finish(bool success) override { package_.Finish(success); }

 private:
  DatFileExamine& package_;
};

// Lets a run be written as RunUpdate(PackageSteps(datFile), sink): the steps object lives for
// the whole call.
inline bool RunUpdate(PackageSteps&& steps, const ProgressSink& progress) {
  return RunUpdate(static_cast<UpdateSteps&>(steps), progress);
}

}  // namespace vortan
