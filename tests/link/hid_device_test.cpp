// SPDX-License-Identifier: Apache-2.0
// The link's framing in both directions, its reply checks and its open/close discipline, pinned
// against hand-written report bytes.
#include "link/hid_device.h"

#include <gtest/gtest.h>

#include <memory>

#include "link/scripted_backend.h"
#include "util/clock.h"

namespace vortan {
namespace {

using testing::Hex;
using testing::ReplyReport;
using testing::Report;
using testing::ScriptedBackend;

Report Sequence(size_t n, uint8_t first = 1) {
  Report r(n);
  for (size_t i = 0; i < n; ++i) r[i] = static_cast<uint8_t>(first + i);
  return r;
}

class HidDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HidDevice::UseBackend(backend);
    HidDevice::SetIds(0x3151, 0x4002);
  }
  void TearDown() override { HidDevice::UseBackend(nullptr); }

  void OpenLink() {
    ASSERT_TRUE(link.EnsureOpen());
    backend->calls.clear();
  }

  VirtualClock clock;
  ScopedProcessClock useClock{&clock};
  std::shared_ptr<ScriptedBackend> backend = std::make_shared<ScriptedBackend>();
  HidDevice& link = HidDevice::Instance();
};

TEST_F(HidDeviceTest, SendFramesMessagesIntoReports) {
  struct Case {
    const char* name;
    Report message;
    std::vector<Report> reports;
  };
  const Report m55 = Sequence(55);
  const Report m56 = Sequence(56);
  Report first55 = Hex("51 37 00 00 00 00 00 00 00");
  first55.insert(first55.end(), m55.begin(), m55.end());
  Report first56 = Hex("51 38 00 00 00 00 00 00 00");
  first56.insert(first56.end(), m56.begin(), m56.begin() + 55);
  const Case cases[] = {
      {"55 bytes take one report", m55, {first55}},
      {"56 bytes take two", m56, {first56, Hex("51 38 00 00 00 37 00 00 00 38", 64)}},
  };
  OpenLink();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A long reply read first leaves its bytes in the shared report buffer; they must not leak
    // into the cleared tail of a short report.
    backend->reads.push_back(ScriptedBackend::Deliver(ReplyReport(0, 55, Report(55, 0xEE))));
    uint8_t sink[55];
    ASSERT_TRUE(link.ReceiveMessage(sink, sizeof sink));
    backend->writes.clear();
    ASSERT_TRUE(link.SendMessage(c.message.data(), static_cast<uint32_t>(c.message.size())));
    EXPECT_EQ(backend->writes, c.reports);
  }
}

TEST_F(HidDeviceTest, SendFailures) {
  const Report m = Sequence(120);
  uint8_t reply[1];
  EXPECT_FALSE(link.SendMessage(m.data(), 4));  // no open link: no traffic
  EXPECT_FALSE(link.ReceiveMessage(reply, 1));
  EXPECT_TRUE(backend->calls.empty());
  OpenLink();
  EXPECT_FALSE(link.SendMessage(m.data(), 0));
  EXPECT_TRUE(backend->writes.empty());
  // The second of three reports fails: the first stays written, the third is never sent.
  backend->failWrite = 1;
  EXPECT_FALSE(link.SendMessage(m.data(), 120));
  EXPECT_EQ(backend->writes.size(), 2u);
  EXPECT_TRUE(link.IsOpen());
}

TEST_F(HidDeviceTest, ReceiveHandlesEveryReplyShape) {
  using R = ScriptedBackend;
  struct Case {
    const char* name;
    std::vector<R::Step> reads;
    uint32_t capacity;
    bool result;
    uint32_t received;
    Report expected;  // the buffer's first bytes afterwards (it starts as 0xAA)
  };
  const Report p55 = Sequence(55);
  const Report p45 = Sequence(45, 100);
  Report p100 = p55;
  p100.insert(p100.end(), p45.begin(), p45.end());
  const R::Step head = R::Deliver(ReplyReport(0, 100, p55));
  const R::Step tail = R::Deliver(ReplyReport(55, 100, p45));
  const R::Step wrongOffset = R::Deliver(ReplyReport(54, 100, p45));
  const R::Step cutTail = R::Cut(ReplyReport(55, 100, p45), 53);
  const Report untouched = Hex("AA");
  const Case cases[] = {
      {"0/1/F1", {R::Deliver(Hex("00 00 00 00 00 01 00 00 00 F1", 64))}, 1, true, 1, Hex("F1")},
      {"first offset not 0", {R::Deliver(ReplyReport(1, 2, {5}))}, 8, false, 0, untouched},
      {"total > capacity", {R::Deliver(ReplyReport(0, 12, {}))}, 11, false, 0, Report(11, 0xAA)},
      {"total 0", {R::Deliver(ReplyReport(0, 0, {}))}, 8, false, 0, untouched},
      {"negative total", {R::Deliver(ReplyReport(0, 0x80000000u, {1}))}, 8, false, 0, untouched},
      {"two reports", {head, tail}, 100, true, 100, p100},
      {"second offset wrong: partial", {head, wrongOffset}, 100, true, 55, p55},
      {"second beyond capacity: partial", {head, tail}, 60, true, 55, p55},
      // A time-out (0) leaves the previous report in the buffer; parsed, it would pass as a
      // sequence break and yield a partial reply instead of a failure.
      {"second read times out", {head, R::Timeout()}, 100, false, 55, p55},
      {"second read fails", {head, R::Failure()}, 100, false, 55, p55},
      {"silent device", {R::Timeout()}, 8, false, 0, untouched},
      {"read error", {R::Failure()}, 8, false, 0, untouched},
      {"shorter than header", {R::Cut(ReplyReport(0, 1, {0xF1}), 8)}, 8, false, 0, untouched},
      {"cut inside chunk", {R::Cut(ReplyReport(0, 11, p55), 19)}, 11, false, 0, untouched},
      {"second cut short: partial", {head, cutTail}, 100, true, 55, p55},
  };
  OpenLink();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    backend->reads.assign(c.reads.begin(), c.reads.end());
    // Each reply follows a request, as in a run, so the report buffer holds its bytes.
    const Report request = Hex("00 00 00 00 00 01 00 00 00 F1");
    ASSERT_TRUE(link.SendMessage(request.data(), static_cast<uint32_t>(request.size())));
    Report buffer(c.capacity, 0xAA);
    uint32_t received = 99;
    EXPECT_EQ(link.ReceiveMessage(buffer.data(), c.capacity, &received), c.result);
    EXPECT_EQ(received, c.received);
    EXPECT_EQ(Report(buffer.begin(), buffer.begin() + c.expected.size()), c.expected);
    EXPECT_TRUE(backend->reads.empty());
  }
}

TEST_F(HidDeviceTest, EnsureOpenNeedsExactlyOneDevice) {
  struct Case {
    int devices;
    bool openFails;
    bool result;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {0, false, false, {"count"}},
      {1, false, true, {"count", "open"}},
      {2, false, false, {"count"}},
      {1, true, false, {"count", "open"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.devices);
    backend->calls.clear();
    backend->devices = c.devices;
    backend->openFails = c.openFails;
    EXPECT_EQ(link.EnsureOpen(), c.result);
    EXPECT_EQ(link.IsOpen(), c.result);
    EXPECT_EQ(backend->calls, c.calls);
    if (link.IsOpen()) link.Close();
  }
}

TEST_F(HidDeviceTest, OpenLinkNeitherCountsNorReopens) {
  OpenLink();
  backend->devices = 2;  // a second device plugged in since
  EXPECT_TRUE(link.EnsureOpen());
  EXPECT_TRUE(link.Open());
  EXPECT_TRUE(backend->calls.empty());
  link.Close();
  EXPECT_EQ(backend->calls, (std::vector<std::string>{"close", "exit"}));
  EXPECT_FALSE(link.IsOpen());
  backend->calls.clear();
  EXPECT_FALSE(link.EnsureOpen());  // closed again: enumerates and finds two
  EXPECT_EQ(backend->calls, std::vector<std::string>{"count"});
}

}  // namespace
}  // namespace vortan
