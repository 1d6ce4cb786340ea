// SPDX-License-Identifier: Apache-2.0
#include "cli/run_events.h"

namespace vortan::cli {
namespace {

nlohmann::json Event(const char* kind, const KeyboardName& keyboard) {
  return {{"event", kind}, {"keyboard", keyboard.path}, {"serial", keyboard.serial}};
}

}  // namespace

nlohmann::json StartEvent(const KeyboardName& keyboard, const DatFileExamine& package,
                          int32_t totalSteps) {
  nlohmann::json event = Event("start", keyboard);
  event["package"] = package.FilePath();
  event["productModel"] = package.GetProductModel();
  event["firmwareVersion"] = package.GetFirmwareVersion();
  event["totalSteps"] = totalSteps;
  return event;
}

nlohmann::json StepEvent(const KeyboardName& keyboard, int32_t index, int32_t total) {
  nlohmann::json event = Event("step", keyboard);
  event["index"] = index;
  event["total"] = total;
  return event;
}

nlohmann::json EndEvent(const KeyboardName& keyboard, bool success, const std::string& reason) {
  nlohmann::json event = Event("end", keyboard);
  event["outcome"] = success ? kTextSuccess : kTextFailure;
  if (!reason.empty()) event["reason"] = reason;
  return event;
}

nlohmann::json UnfiredFaultEvent(const KeyboardName& keyboard, int line, const std::string& fault) {
  nlohmann::json event = Event("fault_unfired", keyboard);
  event["line"] = line;
  event["fault"] = fault;
  return event;
}

std::optional<RunEvent> ParseRunEvent(const std::string& line) {
  const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
  if (!json.is_object() || !json.contains("event") || !json["event"].is_string()) {
    return std::nullopt;
  }
  const auto number = [&json](const char* key) {
    const auto it = json.find(key);
    return it != json.end() && it->is_number_integer() ? it->get<int32_t>() : -1;
  };
  const std::string kind = json["event"].get<std::string>();
  RunEvent event;
  if (kind == "start") {
    event.kind = RunEvent::Kind::kStart;
    event.total = number("totalSteps");
  } else if (kind == "step") {
    event.kind = RunEvent::Kind::kStep;
    event.index = number("index");
    event.total = number("total");
  } else if (kind == "end") {
    event.kind = RunEvent::Kind::kEnd;
    event.success = json.value("outcome", "") == kTextSuccess;
    const auto reason = json.find("reason");
    if (reason != json.end() && reason->is_string()) event.reason = reason->get<std::string>();
  } else {
    return std::nullopt;
  }
  return event;
}

}  // namespace vortan::cli
