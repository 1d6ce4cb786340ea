// SPDX-License-Identifier: Apache-2.0
#include "emulator/loader_device.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <utility>

#include "util/byte_order.h"

namespace vortan::emu {
namespace {

constexpr uint8_t kReportTag = 0x51;
constexpr uint8_t kAccepted = 0xF1;
constexpr size_t kPayloadBytes = LoaderDevice::kPayloadSize;

bool IsUpdateModeRequest(const Bytes& m) {
  return m.size() == 4 && m[0] == 0x01 && m[1] == 0x0A && m[2] == 0x4D;
}

bool ParseInt(std::string_view text, int64_t& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseType(std::string_view name, FaultType& type) {
  static constexpr std::pair<std::string_view, FaultType> kNames[] = {
      {"no_reply", FaultType::kNoReply},
      {"wrong_echo", FaultType::kWrongEcho},
      {"wrong_status", FaultType::kWrongStatus},
      {"short_reply", FaultType::kShortReply},
      {"split_wrongly", FaultType::kSplitWrongly},
      {"short_report", FaultType::kShortReport},
      {"unplug", FaultType::kUnplug},
      {"second_device", FaultType::kSecondDevice},
  };
  for (const auto& [n, t] : kNames) {
    if (n == name) {
      type = t;
      return true;
    }
  }
  return false;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

// What the loader's replies to a kind can be, whatever the package: how many reply messages one
// command gets at most, and the longest of them in bytes. A2 cycle commands carry at most 127
// cycles (their byte 1 holds the count doubled), so their echoes stay below 4 x 127 + 8 bytes.
struct ReplyShape {
  std::string_view kind;
  int replies;
  int64_t longest;
};

constexpr ReplyShape kReplyShapes[] = {
    {"*", 2, 7 + 4 * 127},  // the longest of the families' replies
    {"update_mode", 1, 1},
    {"region_check", 1, 11},
    {"finish", 1, 4},
    {"unknown", 0, 0},
    {"a2.erase_cycle", 1, 7},
    {"a2.erase_poll", 1, 7},
    {"a2.program_cycle", 1, 2 + 4 * 127},
    {"a2.write_buffer_cycle", 1, 7 + 4 * 127},
    {"a2.program_buffer_cycle", 1, 4 + 4 * 127},
    {"a2.write", 1, 12},
    {"a2.data", 2, 1},
    {"c1.setup", 1, 5},
    {"c1.erase", 1, 5},
    {"c1.erase_poll", 1, 7},
    {"c1.write", 1, 12},
    {"c1.data", 1, 1},
    {"a1.write", 1, 12},
    {"a1.data", 2, 1},
    {"ram.write", 1, kMaxMessageLength},
    {"ram.data", 1, 1},
};

// A misspelled kind would never fire, and a rehearsal meant to fail would report success.
const ReplyShape* ShapeOf(std::string_view kind) {
  for (const ReplyShape& shape : kReplyShapes) {
    if (shape.kind == kind) return &shape;
  }
  return nullptr;
}

bool IsReplyFault(FaultType type) {
  return type == FaultType::kWrongEcho || type == FaultType::kWrongStatus ||
         type == FaultType::kShortReply || type == FaultType::kSplitWrongly ||
         type == FaultType::kShortReport;
}

// Why a parsed fault can never fire, or nullptr when it can.
const char* NeverFires(const Fault& f) {
  const ReplyShape& shape = *ShapeOf(f.kind);
  if (!IsReplyFault(f.type)) return nullptr;
  if (shape.replies == 0) return "this kind of command is never answered";
  if (f.reply >= shape.replies) return "reply= is beyond the replies this kind gets";
  if (f.type == FaultType::kWrongEcho && f.byte >= shape.longest) {
    return "byte= is beyond the longest reply of this kind";
  }
  if (f.type == FaultType::kShortReply && f.length >= shape.longest) {
    return "length= does not cut the longest reply of this kind";
  }
  if (f.type == FaultType::kSplitWrongly && f.length >= static_cast<int>(kPayloadBytes)) {
    return "length= of 55 or more is the correct framing";
  }
  return nullptr;
}

bool ParseFaultLine(const std::vector<std::string_view>& w, Fault& f) {
  if (!ParseType(w[0], f.type)) return false;
  size_t i = 1;
  if (i < w.size() && w[i].find('=') == std::string_view::npos &&
      !(w[i].front() >= '0' && w[i].front() <= '9')) {
    if (!ShapeOf(w[i])) return false;
    f.kind = std::string(w[i++]);
  }
  int64_t n = 0;
  if (i < w.size() && w[i].find('=') == std::string_view::npos) {
    if (!ParseInt(w[i++], n) || n < 0 || n > 1'000'000'000) return false;
    f.occurrence = static_cast<int>(n);
  }
  for (; i < w.size(); ++i) {
    const size_t eq = w[i].find('=');
    if (eq == std::string_view::npos || !ParseInt(w[i].substr(eq + 1), n)) return false;
    const std::string_view key = w[i].substr(0, eq);
    if (n < -1 || n > 1'000'000'000) return false;
    if (key == "reply" && n >= 0) {
      f.reply = static_cast<int>(n);
    } else if (key == "byte" && n >= 0) {
      f.byte = static_cast<int>(n);
    } else if (key == "value" && n >= 0 && n <= 0xFF) {
      f.value = static_cast<uint8_t>(n);
    } else if (key == "length") {
      f.length = static_cast<int>(n);
    } else if (key == "device" && n >= 0) {
      f.device = static_cast<int>(n);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string EscapedText(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return out;
}

bool ParseFaultScript(std::string_view text, std::vector<Fault>& faults, std::string* error) {
  std::vector<Fault> parsed;
  int lineNo = 0;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    ++lineNo;
    const auto words = Words(line);
    if (words.empty() || words[0].front() == '#') continue;
    Fault f;
    f.line = lineNo;
    f.text = EscapedText(line.substr(0, line.find_last_not_of(" \t\r") + 1));
    const char* never = nullptr;
    if (!ParseFaultLine(words, f) || (never = NeverFires(f))) {
      if (error) {
        *error = "fault script line " + std::to_string(lineNo) + ": " + f.text;
        if (never) *error += " (never fires: " + std::string(never) + ")";
      }
      return false;
    }
    parsed.push_back(std::move(f));
  }
  faults.insert(faults.end(), parsed.begin(), parsed.end());
  return true;
}

LoaderDevice::LoaderDevice(uint16_t vid, uint16_t pid, int interfaces)
    : vid_(vid), pid_(pid), interfaces_(std::max(interfaces, 1)) {}

void LoaderDevice::AddFamily(uint8_t familyCode, std::unique_ptr<FamilyModel> model) {
  auto& slot = families_[familyCode];
  if (selected_ == slot.get()) selected_ = nullptr;
  slot = std::move(model);
}

void LoaderDevice::DropPending() {
  outgoing_.clear();
  message_.clear();
  messageTotal_ = 0;
  assembling_ = false;
}

void LoaderDevice::ClearFamilies() {
  selected_ = nullptr;
  families_.clear();
}

FamilyModel* LoaderDevice::Family(uint8_t familyCode) const {
  const auto it = families_.find(familyCode);
  return it == families_.end() ? nullptr : it->second.get();
}

void LoaderDevice::AddFault(Fault fault) {
  if (fault.kind.empty()) fault.kind.push_back('*');
  faults_.push_back(Armed{std::move(fault)});
}

void LoaderDevice::AddFaults(const std::vector<Fault>& faults) {
  for (const Fault& f : faults) AddFault(f);
}

void LoaderDevice::ClearFaults() {
  faults_.clear();
}

std::vector<Fault> LoaderDevice::UnfiredFaults() const {
  std::vector<Fault> unfired;
  for (const Armed& a : faults_) {
    if (!a.fired) unfired.push_back(a.fault);
  }
  return unfired;
}

void LoaderDevice::UnplugAfterReports(int64_t reports) {
  unplugAfter_ = reportsCrossed_ + std::max<int64_t>(reports, 0);
  if (unplugAfter_ == reportsCrossed_) unplugged_ = true;
}

int LoaderDevice::MessageCount(std::string_view kind) const {
  const auto it = counts_.find(kind);
  return it == counts_.end() ? 0 : it->second;
}

int LoaderDevice::TakeArrivals() {
  return std::exchange(arrivals_, 0);
}

void LoaderDevice::CountReport() {
  ++reportsCrossed_;
  if (unplugAfter_ >= 0 && reportsCrossed_ >= unplugAfter_) unplugged_ = true;
}

bool LoaderDevice::AcceptReport(const uint8_t* data, size_t length) {
  if (unplugged_) return false;
  Reassemble(data, length);
  // Counted after it is taken in: the N-th report still reaches the device before it goes away.
  CountReport();
  return true;
}

void LoaderDevice::Reassemble(const uint8_t* data, size_t length) {
  if (length < kHeaderSize || data[0] != kReportTag) return;  // not ours: ignored
  const uint32_t total = GetU32(data + 1);
  const uint32_t offset = GetU32(data + 5);
  if (offset == 0) {
    message_.clear();
    assembling_ = total > 0 && total <= kMaxMessageLength;
    messageTotal_ = total;
  } else if (!assembling_ || offset != message_.size() || total != messageTotal_) {
    // A report out of sequence drops the message; the next offset 0 starts afresh.
    assembling_ = false;
    message_.clear();
  }
  if (!assembling_) return;
  const size_t chunk = std::min<size_t>(total - offset, kPayloadSize);
  if (length < kHeaderSize + chunk) {
    assembling_ = false;
    message_.clear();
    return;
  }
  message_.insert(message_.end(), data + kHeaderSize, data + kHeaderSize + chunk);
  if (message_.size() == messageTotal_) {
    assembling_ = false;
    Bytes complete = std::move(message_);
    message_.clear();
    Dispatch(complete);
  }
}

int LoaderDevice::NextReport(Report& report) {
  if (unplugged_) return -1;
  if (outgoing_.empty()) return 0;
  report = outgoing_.front();
  outgoing_.pop_front();
  CountReport();
  return 1;
}

std::optional<Handled> LoaderDevice::Common(const Bytes& m) {
  if (IsUpdateModeRequest(m)) {
    FamilyModel* model = Family(m[3]);
    selected_ = model;
    if (model) model->OnUpdateMode();
    return Handled{"update_mode", {Bytes{model ? kAccepted : kRefused}}};
  }
  if (m.size() == 10 && m[0] == 0x08) {
    Handled h{"region_check", {}};
    if (selected_) {
      Bytes reply(m.begin(), m.begin() + 9);
      const uint16_t sum = selected_->RegionChecksum(GetU32(&m[1]), GetU32(&m[5]));
      reply.push_back(static_cast<uint8_t>(sum));
      reply.push_back(static_cast<uint8_t>(sum >> 8));
      h.replies.push_back(std::move(reply));
    }
    return h;
  }
  if (m.size() == 4 && m[0] == 0x09) {
    lastFinishOutcome_ = m[1];
    selected_ = nullptr;
    return Handled{"finish", {m}};
  }
  return std::nullopt;
}

std::vector<LoaderDevice::Armed*> LoaderDevice::Aimed(const std::string& kind) {
  std::vector<Armed*> firing;
  for (Armed& a : faults_) {
    if (a.spent || (a.fault.kind != "*" && a.fault.kind != kind)) continue;
    ++a.seen;
    if (a.fault.occurrence == 0 || a.seen == a.fault.occurrence) {
      a.spent = a.fault.occurrence != 0;
      firing.push_back(&a);
    }
  }
  return firing;
}

void LoaderDevice::Dispatch(const Bytes& message) {
  std::optional<Handled> handled;
  if (selected_ && selected_->ExpectingData()) {
    handled = selected_->OnMessage(message);
    // Data the model refuses may be the host's next command (a finish after a failed write).
    if (!handled) handled = Common(message);
  } else {
    handled = Common(message);
    if (!handled && selected_) handled = selected_->OnMessage(message);
  }
  if (!handled) handled = Handled{"unknown", {}};

  ++counts_[handled->kind];
  recentKinds_.push_back(handled->kind);
  if (recentKinds_.size() > kRecentKinds) recentKinds_.pop_front();

  const std::vector<Armed*> faults = Aimed(handled->kind);
  bool silent = false;
  for (Armed* a : faults) {
    const FaultType type = a->fault.type;
    a->fired |= !IsReplyFault(type);
    if (type == FaultType::kUnplug) {
      unplugged_ = true;
      return;
    }
    if (type == FaultType::kNoReply) silent = true;
    if (type == FaultType::kSecondDevice) ++arrivals_;
  }
  if (silent) return;
  for (size_t i = 0; i < handled->replies.size(); ++i) {
    QueueReply(std::move(handled->replies[i]), faults, static_cast<int>(i));
  }
}

void LoaderDevice::QueueReply(Bytes reply, const std::vector<Armed*>& faults, int index) {
  size_t piece = kPayloadSize;
  bool wrongOffset = false;
  bool shortFirst = false;
  for (Armed* a : faults) {
    const Fault* f = &a->fault;
    if (f->reply != index) continue;
    // Faults that change nothing of this reply have not fired (yet).
    a->fired |= f->type == FaultType::kSplitWrongly || f->type == FaultType::kShortReport;
    switch (f->type) {
      case FaultType::kWrongEcho:
        if (f->byte >= 0 && static_cast<size_t>(f->byte) < reply.size()) {
          reply[f->byte] ^= 0xFF;
          a->fired = true;
        }
        break;
      case FaultType::kWrongStatus:
        if (!reply.empty()) reply[0] = f->value;
        a->fired |= !reply.empty();
        break;
      case FaultType::kShortReply: {
        const size_t keep = f->length >= 0 ? static_cast<size_t>(f->length)
                                           : (reply.empty() ? 0 : reply.size() - 1);
        const bool cuts = keep < reply.size();
        if (cuts) reply.resize(keep);
        a->fired |= cuts;
        break;
      }
      case FaultType::kSplitWrongly:
        if (reply.size() <= 1) {
          wrongOffset = true;
        } else {
          // Never the full 55: that would be the correct framing again.
          piece = f->length > 0 ? static_cast<size_t>(f->length) : (reply.size() + 1) / 2;
          piece = std::min(piece, kPayloadSize - 1);
        }
        break;
      case FaultType::kShortReport:
        shortFirst = true;
        break;
      default:
        break;
    }
  }
  QueueReports(reply, piece, wrongOffset, shortFirst);
}

void LoaderDevice::QueueReports(const Bytes& reply, size_t piece, bool wrongOffset,
                                bool shortFirst) {
  const uint32_t total = static_cast<uint32_t>(reply.size());
  size_t offset = 0;
  do {
    const size_t chunk = std::min(reply.size() - offset, piece);
    Report r;
    r.bytes[0] = kReplyReportId;
    PutU32(&r.bytes[1], static_cast<uint32_t>(offset) + (wrongOffset ? 1 : 0));
    PutU32(&r.bytes[5], total);
    if (chunk) std::memcpy(&r.bytes[kHeaderSize], reply.data() + offset, chunk);
    if (shortFirst && offset == 0) r.length = kHeaderSize + chunk - 1;
    outgoing_.push_back(r);
    offset += chunk;
  } while (offset < reply.size());
}

}  // namespace vortan::emu
