// SPDX-License-Identifier: Apache-2.0
// Runs whole updates of small packages against the emulated device while the device's replies
// are disturbed as the input says: every reply path of every family's steps meets flipped,
// cut, lost, repeated, late and failed reports, failed writes and an unplugged device.
//
// Input: byte 0 picks the package (A2, C1, A1, or A2 then A1), byte 1 its image length; then
// records of four bytes (gap, op, a, b): the record acts on the host's read that comes `gap`
// reads after the previous record's. Ops: 0 flip byte a of the report with b, 1 cut the report
// to a bytes, 2 lose it (the read times out), 3 deliver it twice, 4 fail the read, 5 deliver it
// one read late, 6 fail the next report write, 7 unplug the device.
//
// Checked after every run: the progress values are the completed steps in order and then one
// outcome that matches the result; the link is closed; a run whose replies were never altered
// in content (op 0) and that reports success left exactly the image in the emulated flash.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/package_steps.h"
#include "app/update_run.h"
#include "emulator/emulator.h"
#include "emulator/simulation/simulated_device.h"
#include "fuzz/private_folder.h"
#include "link/hid_device.h"
#include "package/dat_file_examine.h"
#include "package_builder/description_pieces.h"
#include "package_builder/package_builder.h"
#include "util/clock.h"
#include "util/diag_log.h"

namespace {

using namespace vortan;

constexpr uint16_t kVid = 0x1209;
constexpr uint16_t kPid = 0x5A25;
// Far more reads than any run of these packages makes with every retry used: more means a loop
// that no bound ends.
constexpr int64_t kMaxReads = 200000;

constexpr size_t kImageLengths[] = {0x101, 0x2001, 0x4801, 0x9001};

// A package opened once per kind and length, each in a folder of its own, kept for every input.
DatFileExamine& PreparedPackage(uint8_t kind, uint8_t lengthIndex) {
  static std::map<int, std::unique_ptr<DatFileExamine>> cache;
  const int key = kind * 16 + lengthIndex;
  std::unique_ptr<DatFileExamine>& package = cache[key];
  if (package) return *package;
  const pack::DataPackContents a2{"A2", 0, pack::A2Description(), {}};
  const pack::DataPackContents a1{"A1", 0, pack::A1Description(), {}};
  const std::vector<pack::DataPackContents> kinds[] = {
      {a2}, {{"C1", 0, pack::C1Description(), {}}}, {a1}, {a2, a1}};
  pack::PackageContents contents;
  contents.packs = kinds[kind];
  uint32_t seed = 1;
  for (auto& p : contents.packs) p.image = pack::GenerateImage(kImageLengths[lengthIndex], seed++);
  const std::string folder = fuzz::PrivateFolder() + "/" + std::to_string(key);
  std::filesystem::create_directory(folder);
  std::vector<uint8_t> bytes;
  std::string error;
  if (!pack::BuildPackage(contents, {}, bytes, error)) abort();
  const std::string path = folder + "/package.dat";
  if (!pack::WritePackageFile(path, bytes)) abort();
  package = std::make_unique<DatFileExamine>(folder);
  if (!package->ReadFile(path) || !package->Examine()) abort();
  return *package;
}

struct Record {
  int64_t read;  // index of the host read it acts on
  uint8_t op;
  uint8_t a;
  uint8_t b;
};

// Stands between the link and the emulator and disturbs the reports as the records say.
class DisturbingBackend final : public HidBackend {
 public:
  DisturbingBackend(emu::Emulator& emulator, emu::LoaderDevice& device, std::vector<Record> records)
      : emulator_(emulator), device_(device), records_(std::move(records)) {}

  bool contentAltered = false;
  int64_t reads = 0;

  int CountDevices(uint16_t vid, uint16_t pid) override { return emulator_.CountDevices(vid, pid); }
  Handle Open(uint16_t vid, uint16_t pid) override { return emulator_.Open(vid, pid); }
  int Write(Handle handle, const uint8_t* data, size_t length) override {
    return std::exchange(failNextWrite_, false) ? -1 : emulator_.Write(handle, data, length);
  }
  int Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) override {
    if (++reads > kMaxReads) abort();  // a retry loop without a bound
    std::vector<uint8_t> report = std::exchange(repeat_, {});
    if (report.empty()) {
      const bool hit = next_ < records_.size() && records_[next_].read == reads;
      const Record record = hit ? records_[next_++] : Record{};
      const int op = hit ? record.op % 8 : -1;
      failNextWrite_ = failNextWrite_ || op == 6;
      if (op == 7) device_.Unplug();
      if (op == 4) return -1;
      if (op == 5) return TimeOut(timeout_ms);  // the report stays queued: the next read gets it
      report.resize(HidDevice::kReportSize);
      const int got = emulator_.Read(handle, report.data(), report.size(), timeout_ms);
      if (got <= 0) return got;
      report.resize(static_cast<size_t>(got));
      if (op == 0) {
        report[record.a % report.size()] ^= record.b ? record.b : 1;
        contentAltered = true;
      }
      if (op == 1) report.resize(record.a % (report.size() + 1));
      if (op == 2) return TimeOut(timeout_ms);
      if (report.empty()) return 0;
      if (op == 3) repeat_ = report;
    }
    const size_t n = std::min(report.size(), length);
    std::memcpy(data, report.data(), n);
    return static_cast<int>(n);
  }
  void Close(Handle handle) override { emulator_.Close(handle); }
  void Exit() override { emulator_.Exit(); }
  std::string OpenError() override { return emulator_.OpenError(); }
  bool OpenDeniedPermission() override { return emulator_.OpenDeniedPermission(); }

 private:
  static int TimeOut(int timeout_ms) {
    ProcessClock().Sleep(std::chrono::milliseconds(timeout_ms));
    return 0;
  }

  emu::Emulator& emulator_;
  emu::LoaderDevice& device_;
  std::vector<Record> records_;
  size_t next_ = 0;
  bool failNextWrite_ = false;
  std::vector<uint8_t> repeat_;  // a report to deliver again on the next read
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const bool quiet = (SetLogSink([](std::string_view) {}), true);
  (void)quiet;
  static VirtualClock clock;
  SetProcessClock(&clock);

  DatFileExamine& package = PreparedPackage(data[0] % 4, data[1] % std::size(kImageLengths));
  std::vector<Record> records;
  int64_t at = 0;
  for (size_t i = 2; i + 4 <= size; i += 4) {
    at += 1 + data[i];
    records.push_back({at, data[i + 1], data[i + 2], data[i + 3]});
  }

  emu::Emulator emulator;
  emulator.SetTraceLimit(0);
  emu::LoaderDevice& device = emulator.Attach(kVid, kPid);
  if (!emu::FitSimulatedDevice(device, package)) abort();
  auto backend = std::make_shared<DisturbingBackend>(emulator, device, std::move(records));
  HidDevice::SetIds(kVid, kPid);
  HidDevice::UseBackend(backend);

  std::vector<int32_t> progress;
  const bool ok = RunUpdate(PackageSteps(package), [&](int32_t v) { progress.push_back(v); });

  // Steps 0, 1, 2, ... in order, then exactly one outcome, and it matches the result.
  if (progress.empty() || progress.back() != (ok ? kProgressSuccess : kProgressFailure)) abort();
  for (size_t i = 0; i + 1 < progress.size(); ++i) {
    if (progress[i] != static_cast<int32_t>(i)) abort();
  }
  if (ok && static_cast<int32_t>(progress.size()) - 1 != package.TotalStepCount()) {
    abort();
  }
  if (HidDevice::Instance().IsOpen()) abort();
  for (int p = 1; ok && !backend->contentAltered && p <= package.CountDataPack(); ++p) {
    if (emu::PlannedImageDifference(device, *package.Updater(p))) abort();
  }

  HidDevice::UseBackend(nullptr);
  return 0;
}
