// SPDX-License-Identifier: Apache-2.0
#pragma once
// One emulated device: the loader firmware behind a USB HID interface. It reassembles the host's
// 64-byte reports into messages, answers the commands every family shares, hands the rest to the
// family model chosen by the last update-mode request, and frames the replies into
// device-to-host reports. Faults are injected by script, aimed at a command kind and occurrence.
//
// Common commands:
//   01 0A 4D <family>  "update_mode"   0xF1 when a model was added for <family> (the model is
//                                      selected and reset); otherwise kRefused and no model is
//                                      selected, as a loader without that family would refuse.
//   08 <addr> <len> 00 "region_check"  bytes 0-8 echoed + the selected model's RegionChecksum;
//                                      silent while no model is selected.
//   09 <outcome> 00 00 "finish"        echoed whole; update mode ends (no model selected).
// Any other message goes to the selected model (first, ahead of the common commands, while the
// model ExpectingData()); a message nobody knows is "unknown" and gets no reply.
//
// Not thread-safe by itself: the Emulator that owns it serialises every call.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/family_model.h"

namespace vortan::emu {

// The answer to an update-mode request for a family the device has no model for.
constexpr uint8_t kRefused = 0xE1;
// Byte 0 of every device-to-host report (the host does not examine it).
constexpr uint8_t kReplyReportId = 0x51;
// Longest host message the device reassembles; longer announcements are dropped unanswered.
constexpr uint32_t kMaxMessageLength = 4u << 20;

enum class FaultType {
  kNoReply,       // carried out, but no reply is sent: the host's read times out
  kWrongEcho,     // reply `reply` gets byte `byte` inverted
  kWrongStatus,   // reply `reply` gets byte 0 set to `value`
  kShortReply,    // reply `reply` is cut to `length` bytes (default: one byte fewer)
  kSplitWrongly,  // reply `reply` travels in reports of `length` (< 55) payload bytes (default:
                  // half) with the offsets of those pieces, off the 55-byte framing; a one-byte
                  // reply goes out with offset 1
  kShortReport,   // the first report of reply `reply` arrives one byte shorter than its header
                  // plus its payload
  kUnplug,        // the device is unplugged on this message; none of its replies is sent
  kSecondDevice,  // another device with the same IDs (and no family models) appears once the
                  // replies are queued
};

struct Fault {
  FaultType type = FaultType::kNoReply;
  // Command kind aimed at ("update_mode", "region_check", "finish", "unknown" or a model's
  // kind); "*" or empty aims at any message.
  std::string kind = "*";
  // Fires on the n-th message of that kind (1-based, counted from when the fault was added); 0
  // fires on every one.
  int occurrence = 1;
  int reply = 0;      // which reply message of the command (0-based)
  int byte = 0;       // kWrongEcho
  uint8_t value = 0;  // kWrongStatus
  int length = -1;    // kShortReply, kSplitWrongly; -1 picks the default
  // Which simulated keyboard gets the fault, by its index in enumeration order; -1: every one.
  int device = -1;
  // Where a script gave it: the line's number (0 when not from a script) and its text, control
  // and non-ASCII bytes escaped as \xNN so that it can be shown on a terminal.
  int line = 0;
  std::string text{};
};

// `text` with every byte outside printable ASCII written as \xNN.
std::string EscapedText(std::string_view text);

// Parses a fault script: one fault per line, blank lines and lines starting with '#' skipped.
//   <type> [kind] [occurrence] [reply=N] [byte=N] [value=N] [length=N] [device=N]
// type is no_reply, wrong_echo, wrong_status, short_reply, split_wrongly, short_report, unplug
// or second_device; kind defaults to "*", occurrence to 1; numbers may be 0x-prefixed hex.
// False (with a message naming the line in `error`) on any malformed line, and on a fault that
// can never fire whatever the package: a reply fault aimed at a kind that is never answered or
// at a reply the kind does not have, a byte or length beyond the longest reply of the kind, a
// split into pieces of 55 bytes or more (the correct framing).
bool ParseFaultScript(std::string_view text, std::vector<Fault>& faults, std::string* error);

class LoaderDevice {
 public:
  static constexpr size_t kReportSize = 64;
  static constexpr size_t kHeaderSize = 9;
  static constexpr size_t kPayloadSize = kReportSize - kHeaderSize;

  struct Report {
    std::array<uint8_t, kReportSize> bytes{};
    size_t length = kReportSize;  // bytes the host's read gets
  };

  // `interfaces`: how many HID interfaces the device shows (each is one enumeration entry).
  LoaderDevice(uint16_t vid, uint16_t pid, int interfaces = 1);
  LoaderDevice(const LoaderDevice&) = delete;
  LoaderDevice& operator=(const LoaderDevice&) = delete;

  uint16_t Vid() const { return vid_; }
  uint16_t Pid() const { return pid_; }
  int Interfaces() const { return interfaces_; }

  // Plugs in a model for an update-mode family code (the low byte of familyCode); replaces any
  // earlier model of that code.
  void AddFamily(uint8_t familyCode, std::unique_ptr<FamilyModel> model);
  FamilyModel* Family(uint8_t familyCode) const;
  // Discards queued replies and any half-received message, as closing a hidraw handle discards
  // the reports queued for it; a failed run's unread replies must not answer the next run.
  void DropPending();
  // Removes every model (a simulated device refitted for another package); ends update mode.
  void ClearFamilies();
  // The model the last accepted update-mode request selected; nullptr outside update mode.
  FamilyModel* Selected() const { return selected_; }

  void AddFault(Fault fault);
  void AddFaults(const std::vector<Fault>& faults);
  void ClearFaults();
  // The faults added that have not yet changed anything the device did, in the order added.
  std::vector<Fault> UnfiredFaults() const;
  // Unplugs the device once `reports` reports have crossed the link in either direction.
  void UnplugAfterReports(int64_t reports);
  void Unplug() { unplugged_ = true; }
  bool Unplugged() const { return unplugged_; }

  // What the device saw: complete messages per kind, the outcome byte of the last finish
  // command, and the kinds of the last messages (at most kRecentKinds, oldest first).
  int MessageCount(std::string_view kind) const;
  std::optional<uint8_t> LastFinishOutcome() const { return lastFinishOutcome_; }
  static constexpr size_t kRecentKinds = 256;
  const std::deque<std::string>& RecentKinds() const { return recentKinds_; }

  // Host side, used by the Emulator. AcceptReport takes one host-to-device report; false once
  // unplugged. NextReport moves the next queued reply report to `report`: 1 when one was queued,
  // 0 when none, -1 once unplugged.
  bool AcceptReport(const uint8_t* data, size_t length);
  int NextReport(Report& report);
  // Devices that kSecondDevice faults asked to appear since the last call.
  int TakeArrivals();

 private:
  struct Armed {
    Fault fault;
    int seen = 0;  // messages of the kind since the fault was added
    bool spent = false;
    bool fired = false;  // changed what the device did at least once
  };

  void CountReport();
  void Reassemble(const uint8_t* data, size_t length);
  void Dispatch(const Bytes& message);
  std::optional<Handled> Common(const Bytes& message);
  std::vector<Armed*> Aimed(const std::string& kind);
  void QueueReply(Bytes reply, const std::vector<Armed*>& faults, int index);
  void QueueReports(const Bytes& reply, size_t piece, bool wrongOffset, bool shortFirst);

  uint16_t vid_;
  uint16_t pid_;
  int interfaces_;
  std::map<uint8_t, std::unique_ptr<FamilyModel>> families_;
  FamilyModel* selected_ = nullptr;

  // Reassembly of the host message in progress.
  Bytes message_;
  uint32_t messageTotal_ = 0;
  bool assembling_ = false;

  std::deque<Report> outgoing_;
  std::vector<Armed> faults_;
  std::map<std::string, int, std::less<>> counts_;
  std::deque<std::string> recentKinds_;
  std::optional<uint8_t> lastFinishOutcome_;
  bool unplugged_ = false;
  int64_t reportsCrossed_ = 0;
  int64_t unplugAfter_ = -1;
  int arrivals_ = 0;
};

}  // namespace vortan::emu
