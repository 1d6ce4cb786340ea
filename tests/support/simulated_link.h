// SPDX-License-Identifier: Apache-2.0
#pragma once
// Helpers for whole updates against emulated devices: the link routed to a fresh emulator for
// the life of a test, and a check that a device's flash model holds what an updater planned to
// write there.
#include <gtest/gtest.h>

#include <memory>

#include "emulator/emulator.h"
#include "updaters/ax_update.h"
#include "util/clock.h"

namespace vortan::testing {

// IDs the link is configured with while a SimulatedLink lives.
constexpr uint16_t kSimVid = 0xF1A5;
constexpr uint16_t kSimPid = 0x1234;

// Routes the one device link to a new emulator with no device attached; on destruction closes
// the link and restores the link's earlier IDs and no backend.
class SimulatedLink {
 public:
  SimulatedLink();
  ~SimulatedLink();
  SimulatedLink(const SimulatedLink&) = delete;
  SimulatedLink& operator=(const SimulatedLink&) = delete;

  emu::Emulator& emulator() { return *emulator_; }

 private:
  std::shared_ptr<emu::Emulator> emulator_;
  uint32_t previousVid_;
  uint32_t previousPid_;
};

// A test on the virtual clock with the link routed to a fresh emulator.
class EmulatedLinkTest : public ::testing::Test {
 protected:
  emu::Emulator& emulator() { return link_.emulator(); }
  // A device with the link's IDs and no family yet.
  emu::LoaderDevice& AttachDevice() { return emulator().Attach(kSimVid, kSimPid); }

  VirtualClock clock;
  ScopedProcessClock useClock{&clock};
  SimulatedLink link_;
};

// Runs every step of one loaded updater in the order an update run takes them; false at the
// first step that fails.
bool RunAllSteps(AXUpdate& updater);

// Success when the model `device` holds under the updater's family code contains every byte the
// loaded updater writes, where its plan puts them.
::testing::AssertionResult HoldsImage(const emu::LoaderDevice& device, const AXUpdate& updater);

}  // namespace vortan::testing
