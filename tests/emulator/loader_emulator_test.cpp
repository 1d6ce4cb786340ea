// SPDX-License-Identifier: Apache-2.0
// The emulated loader end to end through the real link: common commands, data path, faults,
// enumeration and the traffic record.
#include <gtest/gtest.h>

#include <memory>

#include "emulator/emulator.h"
#include "emulator/ram_model.h"
#include "link/hid_device.h"
#include "support/simulated_link.h"
#include "updaters/ax_update.h"
#include "util/byte_order.h"
#include "util/clock.h"

namespace vortan::emu {
namespace {

constexpr uint16_t kVid = 0x3151;
constexpr uint16_t kPid = 0x4002;
constexpr uint8_t kRamFamily = 7;

class RamUpdate : public AXUpdate {
 public:
  RamUpdate() : AXUpdate("cnfg", "data") { familyCode = kRamFamily; }
  using AXUpdate::Exchange;
  // Writes `data` at `address` with the RAM model's write command and data message.
  bool Write(uint32_t address, const Bytes& data) {
    uint8_t command[12] = {0x07};
    PutU32(&command[1], address);
    PutU16(&command[5], static_cast<uint16_t>(data.size()));
    PutU16(&command[9], ByteChecksum(data.data(), static_cast<int32_t>(data.size())));
    uint8_t echo[12];
    if (!Exchange(command, echo) || !std::equal(echo, echo + 12, command)) return false;
    uint8_t status[1];
    return Exchange(data, status) && status[0] == RamModel::kDataReceived;
  }
};

class LoaderEmulatorTest : public testing::EmulatedLinkTest {
 protected:
  LoaderDevice& AttachRamDevice() {
    LoaderDevice& d = AttachDevice();
    auto model = std::make_unique<RamModel>(4096);
    ram = model.get();
    d.AddFamily(kRamFamily, std::move(model));
    return d;
  }

  RamModel* ram = nullptr;
};

TEST_F(LoaderEmulatorTest, EnumerationFollowsHidEnumerate) {
  struct Attached {
    uint16_t vid, pid;
    int interfaces;
    bool unplugged;
  };
  struct Case {
    const char* name;
    std::vector<Attached> devices;
    uint16_t vid, pid;
    int count;
  };
  const Case cases[] = {
      {"two", {{kVid, kPid, 1, false}, {kVid, kPid, 1, false}}, kVid, kPid, 2},
      {"other product", {{kVid, 0x9999, 1, false}}, kVid, kPid, 0},
      {"vendor wildcard", {{0x1111, kPid, 1, false}, {kVid, kPid, 1, false}}, 0, kPid, 2},
      {"product wildcard", {{kVid, 1, 1, false}, {kVid, 2, 2, false}}, kVid, 0, 3},
      {"unplugged not listed", {{kVid, kPid, 1, true}, {kVid, kPid, 1, false}}, kVid, kPid, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Emulator e;
    for (const Attached& a : c.devices) {
      LoaderDevice& d = e.Attach(a.vid, a.pid, a.interfaces);
      if (a.unplugged) d.Unplug();
    }
    EXPECT_EQ(e.CountDevices(c.vid, c.pid), c.count);
    HidBackend::Handle h = e.Open(c.vid, c.pid);
    EXPECT_EQ(h != nullptr, c.count > 0);
    if (h) e.Close(h);
  }
}

// One fault script against one host action; the action's result and the time it waited. The
// plain fault kinds against every command are the run-level fault matrix's job.
TEST_F(LoaderEmulatorTest, ScriptedFaultsReachTheHost) {
  enum Action { kEnter, kRegion, kWrite };
  struct Case {
    const char* script;
    Action action;
    bool result;
    int64_t sleptMs;
    size_t unfired;  // fault lines that changed nothing
  };
  const int64_t t = HidDevice::kReplyTimeoutMs;
  const Case cases[] = {
      {"", kRegion, true, 0, 0},
      {"no_reply update_mode", kEnter, true, t, 0},
      {"no_reply update_mode 0", kEnter, false, 5 * t, 0},
      {"wrong_echo region_check 1 byte=3", kRegion, false, 0, 0},
      {"wrong_echo region_check 2", kRegion, true, 0, 1},
      {"short_reply region_check", kRegion, false, 0, 0},
      {"split_wrongly region_check", kRegion, false, 0, 0},
      {"short_report region_check", kRegion, false, 0, 0},
      {"short_reply ram.write length=11", kWrite, false, 0, 0},
      {"wrong_echo ram.write byte=200\nshort_reply ram.write length=100", kWrite, true, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    LoaderDevice& device = AttachRamDevice();
    std::vector<Fault> faults;
    ASSERT_TRUE(ParseFaultScript(c.script, faults, nullptr));
    RamUpdate update;
    if (c.action != kEnter) {
      ASSERT_TRUE(update.EnterUpdateMode(1));
    }
    device.AddFaults(faults);
    const int64_t before = clock.SleptMs();
    const bool result = c.action == kEnter    ? update.EnterUpdateMode(5)
                        : c.action == kRegion ? update.CheckRegion(0x10, 4, 4 * 0xFF)
                                              : update.Write(0, Bytes(100, 0x5A));
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(clock.SleptMs() - before, c.sleptMs);
    EXPECT_EQ(device.UnfiredFaults().size(), c.unfired);
    HidDevice::Instance().Close();
    device.Unplug();  // the next case gets a device of its own
  }
}

TEST_F(LoaderEmulatorTest, SecondDeviceAppearingMidRun) {
  LoaderDevice& device = AttachRamDevice();
  std::vector<Fault> faults;
  ASSERT_TRUE(ParseFaultScript("second_device update_mode", faults, nullptr));
  device.AddFaults(faults);
  RamUpdate update;
  ASSERT_TRUE(update.EnterUpdateMode(5));
  EXPECT_EQ(HidDevice::Instance().CountDevices(), 2);
  // The open link keeps talking to the first device.
  EXPECT_TRUE(update.CheckRegion(0, 2, 2 * 0xFF));
  EXPECT_TRUE(update.FinishUpdate(true));
  EXPECT_FALSE(update.EnterUpdateMode(5));  // closed now: two devices refuse a new run
  EXPECT_EQ(device.MessageCount("update_mode"), 1);
}

TEST_F(LoaderEmulatorTest, UnplugAfterReports) {
  LoaderDevice& device = AttachRamDevice();
  RamUpdate update;
  ASSERT_TRUE(update.EnterUpdateMode(1));  // 2 reports: request and reply
  device.UnplugAfterReports(1);            // the region check request still goes out
  EXPECT_FALSE(update.CheckRegion(0, 2, 2 * 0xFF));
  EXPECT_EQ(device.MessageCount("region_check"), 1);
  EXPECT_EQ(HidDevice::Instance().CountDevices(), 0);
  EXPECT_FALSE(update.FinishUpdate(false));
  EXPECT_EQ(emulator().OpenHandles(), 0);
  EXPECT_EQ(clock.SleptMs(), 0);  // an unplugged device fails at once, it does not time out
}

TEST_F(LoaderEmulatorTest, UnknownFamilyIsRefused) {
  LoaderDevice& device = AttachRamDevice();
  AXUpdate other("", "");  // family code 0: no model
  EXPECT_FALSE(other.EnterUpdateMode(5));
  EXPECT_EQ(device.MessageCount("update_mode"), 5);
  EXPECT_EQ(device.Selected(), nullptr);
  ASSERT_FALSE(emulator().Trace().empty());
  EXPECT_EQ(emulator().Trace().back().substr(0, 33), "D>H 51 00 00 00 00 01 00 00 00 E1");
  HidDevice::Instance().Close();
}

TEST_F(LoaderEmulatorTest, TraceRecordsEveryReportAsHex) {
  AttachRamDevice();
  RamUpdate update;
  ASSERT_TRUE(update.EnterUpdateMode(1));
  std::string zeros;
  for (int i = 0; i < 54; ++i) zeros += " 00";
  EXPECT_EQ(emulator().Trace(), (std::vector<std::string>{
                                    "H>D 51 04 00 00 00 00 00 00 00 01 0A 4D 07" + zeros.substr(9),
                                    "D>H 51 00 00 00 00 01 00 00 00 F1" + zeros}));
  std::vector<std::string> sunk;
  emulator().SetTraceSink([&](const std::string& line) { sunk.push_back(line); });
  emulator().SetTraceLimit(3);
  ASSERT_TRUE(update.CheckRegion(0, 1, 0xFF));
  ASSERT_TRUE(update.CheckRegion(0, 1, 0xFF));
  EXPECT_EQ(sunk.size(), 4u);
  EXPECT_EQ(emulator().Trace().size(), 3u);
  EXPECT_EQ(emulator().TraceDropped(), 3u);
  EXPECT_EQ(emulator().Trace().back(), sunk.back());
  HidDevice::Instance().Close();
}

TEST_F(LoaderEmulatorTest, ReassemblyDropsAMessageBrokenOffMidway) {
  LoaderDevice& device = AttachRamDevice();
  HidBackend::Handle h = emulator().Open(testing::kSimVid, testing::kSimPid);
  ASSERT_NE(h, nullptr);
  auto report = [](uint32_t total, uint32_t offset, std::vector<uint8_t> payload) {
    std::vector<uint8_t> r(64, 0);
    r[0] = 0x51;
    PutU32(&r[1], total);
    PutU32(&r[5], offset);
    std::copy(payload.begin(), payload.end(), r.begin() + 9);
    return r;
  };
  const std::vector<std::vector<uint8_t>> reports = {
      report(60, 0, std::vector<uint8_t>(55, 1)),  // a 60-byte message begins ...
      report(60, 54, {1, 1, 1, 1, 1}),             // ... and breaks off: dropped
      report(60, 55, {1, 1, 1, 1, 1}),             // a continuation without a start: dropped
      report(0x7FFFFFFF, 0, {}),                   // longer than any message: ignored
      report(4, 0, {0x01, 0x0A, 0x4D, kRamFamily}),
  };
  for (const auto& r : reports) ASSERT_EQ(emulator().Write(h, r.data(), r.size()), 64);
  EXPECT_EQ(device.MessageCount("unknown"), 0);
  EXPECT_EQ(device.MessageCount("update_mode"), 1);
  uint8_t in[64];
  EXPECT_EQ(emulator().Read(h, in, sizeof in, 100), 64);
  EXPECT_EQ(in[9], 0xF1);
  EXPECT_EQ(emulator().Read(h, in, sizeof in, 100), 0);
  EXPECT_EQ(emulator().Read(h, in, sizeof in, -1), -1);  // never blocks forever
  EXPECT_EQ(clock.SleptMs(), 100);
  emulator().Close(h);
}

TEST(FaultScriptTest, ParsesAndRefuses) {
  std::vector<Fault> faults;
  std::string error;
  ASSERT_TRUE(ParseFaultScript(
      "# comment\n\nno_reply\nwrong_echo region_check 2 byte=9\n"
      "  wrong_status a2.data 0 reply=1 value=0x00\r\nshort_reply c1.setup length=1 device=2\n",
      faults, &error));
  ASSERT_EQ(faults.size(), 4u);
  EXPECT_EQ(faults[0].kind, "*");
  EXPECT_EQ(faults[0].device, -1);
  EXPECT_EQ(faults[1].byte, 9);
  EXPECT_EQ(faults[2].reply, 1);
  EXPECT_EQ(faults[3].length, 1);
  EXPECT_EQ(faults[3].device, 2);
  for (const char* bad :
       {"explode", "no_reply finish x", "wrong_status * 1 value=0x100", "unplug * 1 device=-1",
        "no_reply finish 1 colour=2", "no_reply finish -3",
        "unplug * 1 byte=", "wrong_status c1.sertup 0",
        // Never fire: no such byte, cut, reply, or answer; the correct framing.
        "wrong_echo * 1 byte=100000", "short_reply * 1 length=99999999", "wrong_echo finish byte=4",
        "wrong_status a2.write reply=1", "wrong_status unknown", "split_wrongly * 1 length=55"}) {
    SCOPED_TRACE(bad);
    std::vector<Fault> none;
    EXPECT_FALSE(ParseFaultScript(std::string("no_reply\n") + bad, none, &error));
    EXPECT_TRUE(none.empty());
    EXPECT_NE(error.find("line 2"), std::string::npos);
  }
  // A binary script's bytes reach the terminal escaped.
  EXPECT_FALSE(ParseFaultScript("no_reply \x1B]0;x\x07\xFF", faults, &error));
  EXPECT_EQ(error, "fault script line 1: no_reply \\x1B]0;x\\x07\\xFF");
}

}  // namespace
}  // namespace vortan::emu
