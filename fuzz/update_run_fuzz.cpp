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
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/package_steps.h"
#include "app/update_run.h"
#include "emulator/emulator.h"
#include "emulator/simulation/simulated_device.h"
#include "link/clock.h"
#include "link/hid_device.h"
#include "package/dat_file_examine.h"
#include "package_builder/description_pieces.h"
#include "package_builder/package_builder.h"
#include "updaters/a1_update.h"
#include "updaters/a2_update.h"
#include "updaters/c1_update.h"
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
struct Prepared {
  std::unique_ptr<DatFileExamine> package;
  std::vector<std::vector<uint8_t>> images;
};

const std::string& BaseFolder() {
  // Never destroyed, so the exit handler can still name it.
  static const std::string* folder = [] {
    const char* base = getenv("TMPDIR");
    auto* path = new std::string(std::string(base && *base ? base : "/tmp") +
                                 "/vortan-update-run-fuzz-XXXXXX");
    if (!mkdtemp(path->data())) abort();
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(BaseFolder(), ignored);
    });
    return path;
  }();
  return *folder;
}

pack::DataPackContents Pack(char family, size_t length, uint32_t seed) {
  switch (family) {
    case '2':
      return {"A2", 0, pack::A2Description(), pack::GenerateImage(length, seed)};
    case 'C':
      return {"C1", 0, pack::C1Description(), pack::GenerateImage(length, seed)};
    default:
      return {"A1", 0, pack::A1Description(), pack::GenerateImage(length, seed)};
  }
}

Prepared& PreparedPackage(uint8_t kind, uint8_t lengthIndex) {
  static std::map<int, Prepared> cache;
  const int key = kind * 16 + lengthIndex;
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  const size_t length = kImageLengths[lengthIndex];
  pack::PackageContents contents;
  static constexpr const char* kFamilies[] = {"2", "C", "1", "21"};
  uint32_t seed = 1;
  for (const char* f = kFamilies[kind]; *f; ++f) contents.packs.push_back(Pack(*f, length, seed++));
  const std::string folder = BaseFolder() + "/" + std::to_string(key);
  std::filesystem::create_directory(folder);
  std::vector<uint8_t> bytes;
  std::string error;
  if (!pack::BuildPackage(contents, {}, bytes, error)) abort();
  const std::string path = folder + "/package.dat";
  if (!pack::WritePackageFile(path, bytes)) abort();
  Prepared prepared;
  prepared.package = std::make_unique<DatFileExamine>(folder);
  if (!prepared.package->ReadFile(path) || !prepared.package->Examine()) abort();
  for (const auto& p : contents.packs) prepared.images.push_back(p.image);
  return cache.emplace(key, std::move(prepared)).first->second;
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
    if (failNextWrite_) {
      failNextWrite_ = false;
      return -1;
    }
    return emulator_.Write(handle, data, length);
  }
  int Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) override {
    if (++reads > kMaxReads) abort();  // a retry loop without a bound
    if (repeat_) {
      const auto report = *std::exchange(repeat_, std::nullopt);
      return Deliver(report.first.data(), report.second, data, length);
    }
    const Record* record = nullptr;
    if (next_ < records_.size() && records_[next_].read == reads) record = &records_[next_++];
    const uint8_t op = record ? record->op % 8 : 0xFF;
    switch (op) {
      case 4:
        return -1;
      case 5:  // the report stays queued: the next read gets it
        ProcessClock().Sleep(std::chrono::milliseconds(timeout_ms));
        return 0;
      case 6:
        failNextWrite_ = true;
        break;
      case 7:
        device_.Unplug();
        break;
      default:
        break;
    }
    std::array<uint8_t, HidDevice::kReportSize> report{};
    const int got = emulator_.Read(handle, report.data(), report.size(), timeout_ms);
    if (got <= 0) return got;
    size_t n = static_cast<size_t>(got);
    switch (op) {
      case 0:
        report[record->a % n] ^= record->b ? record->b : 1;
        contentAltered = true;
        break;
      case 1:
        n = record->a % (n + 1);
        if (n == 0) return 0;
        break;
      case 2:
        ProcessClock().Sleep(std::chrono::milliseconds(timeout_ms));
        return 0;
      case 3:
        repeat_ = {report, n};
        break;
      default:
        break;
    }
    return Deliver(report.data(), n, data, length);
  }
  void Close(Handle handle) override { emulator_.Close(handle); }
  void Exit() override { emulator_.Exit(); }
  std::string OpenError() override { return emulator_.OpenError(); }
  bool OpenDeniedPermission() override { return emulator_.OpenDeniedPermission(); }

 private:
  static int Deliver(const uint8_t* report, size_t n, uint8_t* data, size_t length) {
    n = std::min(n, length);
    std::memcpy(data, report, n);
    return static_cast<int>(n);
  }

  emu::Emulator& emulator_;
  emu::LoaderDevice& device_;
  std::vector<Record> records_;
  size_t next_ = 0;
  bool failNextWrite_ = false;
  std::optional<std::pair<std::array<uint8_t, HidDevice::kReportSize>, size_t>> repeat_;
};

// True when the emulated flash holds what each updater planned to write, from its image.
bool FlashHoldsImages(const emu::LoaderDevice& device, const DatFileExamine& package) {
  for (int p = 1; p <= package.CountDataPack(); ++p) {
    if (emu::PlannedImageDifference(device, *package.Updater(p))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const bool quiet = (SetLogSink([](std::string_view) {}), true);
  (void)quiet;
  static VirtualClock clock;
  SetProcessClock(&clock);

  Prepared& prepared = PreparedPackage(data[0] % 4, data[1] % std::size(kImageLengths));
  std::vector<Record> records;
  int64_t at = 0;
  for (size_t i = 2; i + 4 <= size; i += 4) {
    at += 1 + data[i];
    records.push_back({at, data[i + 1], data[i + 2], data[i + 3]});
  }

  emu::Emulator emulator;
  emulator.SetTraceLimit(0);
  emu::LoaderDevice& device = emulator.Attach(kVid, kPid);
  if (!emu::FitSimulatedDevice(device, *prepared.package)) abort();
  auto backend = std::make_shared<DisturbingBackend>(emulator, device, std::move(records));
  HidDevice::SetIds(kVid, kPid);
  HidDevice::UseBackend(backend);

  std::vector<int32_t> progress;
  const bool ok =
      RunUpdate(PackageSteps(*prepared.package), [&](int32_t v) { progress.push_back(v); });

  // Steps 0, 1, 2, ... in order, then exactly one outcome, and it matches the result.
  if (progress.empty() || progress.back() != (ok ? kProgressSuccess : kProgressFailure)) abort();
  for (size_t i = 0; i + 1 < progress.size(); ++i) {
    if (progress[i] != static_cast<int32_t>(i)) abort();
  }
  if (ok && static_cast<int32_t>(progress.size()) - 1 != prepared.package->TotalStepCount()) {
    abort();
  }
  if (HidDevice::Instance().IsOpen()) abort();
  if (ok && !backend->contentAltered && !FlashHoldsImages(device, *prepared.package)) abort();

  HidDevice::UseBackend(nullptr);
  return 0;
}
