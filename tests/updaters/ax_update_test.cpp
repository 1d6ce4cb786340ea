// SPDX-License-Identifier: Apache-2.0
// The updater base: the shared loader commands against scripted replies, the short-reply rule,
// the checksums and the work-file reads.
#include "updaters/ax_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "link/scripted_backend.h"
#include "support/temp_dir.h"
#include "util/clock.h"

namespace vortan {
namespace {

using testing::Hex;
using testing::ReplyReport;
using testing::Report;
using testing::ScriptedBackend;
using R = ScriptedBackend;

// The message a host report carries: bytes 9 on, as long as its total length says.
Report Payload(const Report& report) {
  const uint32_t total = report[1] | report[2] << 8 | report[3] << 16 | report[4] << 24;
  return Report(report.begin() + 9, report.begin() + 9 + std::min<uint32_t>(total, 55));
}

class TestUpdate : public AXUpdate {
 public:
  explicit TestUpdate(uint32_t family = 1, std::string data = "") : AXUpdate("", std::move(data)) {
    familyCode = family;
  }
  using AXUpdate::Exchange;
  using AXUpdate::ReadImageFile;
};

class AXUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HidDevice::UseBackend(backend);
    HidDevice::SetIds(0x3151, 0x4002);
  }
  void TearDown() override { HidDevice::UseBackend(nullptr); }

  void Answer(std::initializer_list<Report> reports) {
    for (const Report& r : reports) backend->reads.push_back(R::Deliver(r));
  }

  VirtualClock clock;
  ScopedProcessClock useClock{&clock};
  std::shared_ptr<ScriptedBackend> backend = std::make_shared<ScriptedBackend>();
};

TEST_F(AXUpdateTest, EnterUpdateModeAttempts) {
  struct Case {
    const char* name;
    int attempts;
    std::vector<R::Step> reads;
    bool result;
    int requests;
  };
  const R::Step accept = R::Deliver(ReplyReport(0, 1, {0xF1}));
  const R::Step refuse = R::Deliver(ReplyReport(0, 1, {0xF0}));
  const Case cases[] = {
      {"zero attempts", 0, {}, false, 0},
      {"accepted at once", 5, {accept}, true, 1},
      {"accepted on the third", 5, {refuse, R::Timeout(), accept}, true, 3},
      {"five wrong answers", 5, {refuse, refuse, refuse, refuse, refuse}, false, 5},
      {"silent device", 5, {}, false, 5},
      {"two-byte answer", 1, {R::Deliver(ReplyReport(0, 2, {0xF1, 0xF1}))}, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    *backend = ScriptedBackend();
    backend->reads.assign(c.reads.begin(), c.reads.end());
    TestUpdate update(0x105);  // only the low byte is sent
    EXPECT_EQ(update.EnterUpdateMode(c.attempts), c.result);
    ASSERT_EQ(static_cast<int>(backend->writes.size()), c.requests);
    for (const Report& w : backend->writes) {
      EXPECT_EQ(w, Hex("51 04 00 00 00 00 00 00 00 01 0A 4D 05", 64));
    }
    HidDevice::Instance().Close();
  }
}

TEST_F(AXUpdateTest, CheckRegion) {
  struct Case {
    const char* name;
    Report reply;
    bool result;
  };
  const Report echo = Hex("08 45 23 01 00 00 01 00 00");
  auto with = [&](Report head, std::initializer_list<uint8_t> tail) {
    head.insert(head.end(), tail);
    return head;
  };
  const Case cases[] = {
      {"match", with(echo, {0x34, 0x00}), true},
      {"checksum differs", with(echo, {0x35, 0x00}), false},
      {"echo differs", with(Hex("08 45 23 01 00 00 02 00 00"), {0x34, 0x00}), false},
      // Ten bytes: a cleared or stale eleventh byte must not complete the checksum.
      {"reply one byte short", with(echo, {0x34}), false},
  };
  TestUpdate update;
  ASSERT_TRUE(HidDevice::Instance().EnsureOpen());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    backend->writes.clear();
    Answer({ReplyReport(0, static_cast<uint32_t>(c.reply.size()), c.reply)});
    EXPECT_EQ(update.CheckRegion(0x12345, 0x100, 0x0034), c.result);
    ASSERT_EQ(backend->writes.size(), 1u);
    EXPECT_EQ(Payload(backend->writes[0]), Hex("08 45 23 01 00 00 01 00 00 00"));
  }
  HidDevice::Instance().Close();
}

TEST_F(AXUpdateTest, ShortReplyIsAMismatchNotStaleBytes) {
  // A one-byte 0xF1 answer where five bytes (F1 + capacity) are expected must fail, even though
  // the buffer held a capacity from before.
  TestUpdate update;
  ASSERT_TRUE(HidDevice::Instance().EnsureOpen());
  Answer({ReplyReport(0, 1, {0xF1})});
  uint8_t reply[5] = {0xF1, 0x00, 0x00, 0x40, 0x00};
  const uint8_t setup[7] = {0x0B, 0, 0, 0, 0, 0, 1};
  EXPECT_FALSE(update.Exchange(setup, reply));
  EXPECT_EQ(reply[3], 0);  // buffers start zeroed
  Answer({ReplyReport(0, 5, {0xF1, 0x00, 0x00, 0x40, 0x00})});
  EXPECT_TRUE(update.Exchange(setup, reply));
  HidDevice::Instance().Close();
}

TEST_F(AXUpdateTest, FinishUpdateClosesTheLinkInEveryOutcome) {
  struct Case {
    const char* name;
    bool success;
    std::vector<R::Step> reads;
    int failWrite;
    bool result;
  };
  const Case cases[] = {
      {"success echoed", true, {R::Deliver(ReplyReport(0, 4, {0x09, 0, 0, 0}))}, -1, true},
      {"failure echoed", false, {R::Deliver(ReplyReport(0, 4, {0x09, 1, 0, 0}))}, -1, true},
      {"wrong echo", true, {R::Deliver(ReplyReport(0, 4, {0x09, 1, 0, 0}))}, -1, false},
      {"short echo", true, {R::Deliver(ReplyReport(0, 3, {0x09, 0, 0}))}, -1, false},
      {"silent", false, {}, -1, false},
      {"unplugged", true, {R::Failure()}, -1, false},
      {"send fails", true, {}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    *backend = ScriptedBackend();
    backend->reads.assign(c.reads.begin(), c.reads.end());
    backend->failWrite = c.failWrite;
    TestUpdate update;
    EXPECT_EQ(update.FinishUpdate(c.success), c.result);
    ASSERT_EQ(backend->writes.size(), 1u);
    EXPECT_EQ(Payload(backend->writes[0]), c.success ? Hex("09 00 00 00") : Hex("09 01 00 00"));
    EXPECT_FALSE(HidDevice::Instance().IsOpen());
    ASSERT_GE(backend->calls.size(), 2u);
    EXPECT_EQ(backend->calls[backend->calls.size() - 2], "close");
    EXPECT_EQ(backend->calls.back(), "exit");
  }
}

TEST_F(AXUpdateTest, FinishUpdateWithoutADeviceSendsAndClosesNothing) {
  backend->devices = 0;
  TestUpdate update;
  EXPECT_FALSE(update.FinishUpdate(true));
  EXPECT_EQ(backend->calls, std::vector<std::string>{"count"});
}

// The sums themselves are checksums_test's; here only the guards of the signed wrappers (the
// image sum ignoring an odd last byte ends ImageFileReads).
TEST_F(AXUpdateTest, ChecksumWrappersRefuseWhatTheyCannotSum) {
  EXPECT_EQ(TestUpdate().ImageChecksum(), 0);
  EXPECT_EQ(AXUpdate::WordChecksum(nullptr, 4), 0);
  EXPECT_EQ(AXUpdate::ByteChecksum(Hex("FF").data(), -1), 0);
  EXPECT_EQ(AXUpdate::ByteChecksum(nullptr, 300), 0);
}

TEST_F(AXUpdateTest, ImageFileReads) {
  testing::TempDir temp;
  const std::filesystem::path dir = temp.path();
  std::ofstream(dir / "image.bin", std::ios::binary) << "\x01\x02\x03";
  std::ofstream(dir / "empty.bin", std::ios::binary);
  ASSERT_EQ(::mkfifo((dir / "fifo.bin").c_str(), 0600), 0);
  struct Case {
    const char* file;
    bool result;
  };
  // The FIFO guards against an open that would wait forever for a writer.
  const Case cases[] = {{"image.bin", true},
                        {"empty.bin", false},
                        {"missing.bin", false},
                        {"fifo.bin", false},
                        {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TestUpdate update(1, c.file[0] ? (dir / c.file).string() : dir.string());
    EXPECT_EQ(update.ReadImageFile(), c.result);
  }
  TestUpdate update(1, (dir / "image.bin").string());
  ASSERT_TRUE(update.ReadImageFile());
  EXPECT_EQ(update.ImageChecksum(), 0x0201);
}

}  // namespace
}  // namespace vortan
