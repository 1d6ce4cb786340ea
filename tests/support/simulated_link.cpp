// SPDX-License-Identifier: Apache-2.0
#include "support/simulated_link.h"

#include "emulator/simulation/simulated_device.h"
#include "link/hid_device.h"
#include "package/step_plan.h"

namespace vortan::testing {

SimulatedLink::SimulatedLink()
    : emulator_(std::make_shared<emu::Emulator>()),
      previousVid_(HidDevice::Vid()),
      previousPid_(HidDevice::Pid()) {
  HidDevice::Instance().Close();
  HidDevice::SetIds(kSimVid, kSimPid);
  HidDevice::UseBackend(emulator_);
}

SimulatedLink::~SimulatedLink() {
  HidDevice::Instance().Close();
  HidDevice::UseBackend(nullptr);
  HidDevice::SetIds(previousVid_, previousPid_);
}

bool RunAllSteps(AXUpdate& updater) {
  for (int32_t i = 0; i < updater.StepCount(); ++i) {
    if (!RunPlannedStep(updater, PlanStep(i, updater.StepCount(), 0, 1), i)) return false;
  }
  return true;
}

::testing::AssertionResult HoldsImage(const emu::LoaderDevice& device, const AXUpdate& updater) {
  const auto difference = emu::PlannedImageDifference(device, updater);
  if (difference) return ::testing::AssertionFailure() << *difference;
  return ::testing::AssertionSuccess();
}

}  // namespace vortan::testing
