// SPDX-License-Identifier: Apache-2.0
// A whole update of a 4 MiB image of each chip family, run as the update thread runs it
// (RunUpdate over the package's steps) on the virtual clock, so only CPU work is left. Two
// measurements per family: against the emulated device, and against a replay of the replies that
// device gave, which leaves the host's own work alone. Every report that crosses the link is
// counted and set beside the fewest the protocol needs for the same image.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/package_steps.h"
#include "app/update_run.h"
#include "bench/bench_support.h"
#include "emulator/a1_model.h"
#include "emulator/a2_model.h"
#include "emulator/c1_model.h"
#include "emulator/emulator.h"
#include "link/hid_device.h"
#include "package_builder/description_pieces.h"
#include "package_builder/package_builder.h"
#include "util/clock.h"
#include "util/diag_log.h"

namespace vortan::bench {
namespace {

constexpr size_t kImageLength = 4 * kMiB;
constexpr uint16_t kVid = 0x1209;
constexpr uint16_t kPid = 0x5A25;

// Reports a message of `length` bytes takes on the link: 55 payload bytes per report.
int64_t Reports(uint64_t length) {
  return static_cast<int64_t>((length + 54) / 55);
}
// A request and its reply.
int64_t Exchange(uint64_t request, uint64_t reply) {
  return Reports(request) + Reports(reply);
}
// Update-mode request (4 bytes, 1-byte reply) and finish command (4 bytes echoed).
constexpr int64_t kEnterAndFinish = 2 + 2;

// --- A2: 64 sectors of 32 Ki words, word programming, blocks of 4 Ki words. -----------------
constexpr uint32_t kA2SectorWords = 0x8000;
constexpr uint32_t kA2Sectors = 64;
constexpr uint32_t kA2BlockWords = 0x1000;
constexpr uint32_t kA2EraseCycles = 6;
constexpr uint32_t kA2ProgramCycles = 3;

std::string A2Description() {
  pack::A2Head head;
  head.comment.clear();
  head.flashModel = "VX29LV320B";
  head.reserved = "0x7FFFFFFF";
  head.blockSize = "0x1000";
  std::string sectors;
  for (uint32_t i = 0; i < kA2Sectors; ++i) sectors += std::to_string(i * kA2SectorWords) + "\n";
  sectors.pop_back();
  return pack::A2Description(head, sectors);
}

std::vector<uint32_t> A2SectorAddresses() {
  std::vector<uint32_t> addresses;
  for (uint32_t i = 0; i < kA2Sectors; ++i) addresses.push_back(i * kA2SectorWords);
  return addresses;
}

// Per sector: the erase cycles, two polls (two blank reads in a row end an erase), the program
// cycle command, the write commands with their data and two status bytes, one region check.
int64_t A2Minimum(uint64_t imageLength) {
  int64_t total = kEnterAndFinish;
  const uint64_t sectorBytes = 2 * uint64_t{kA2SectorWords};
  for (uint64_t done = 0; done < imageLength; done += sectorBytes) {
    const uint64_t words = std::min(sectorBytes, imageLength - done) / 2;
    total += kA2EraseCycles * Exchange(7, 7) + 2 * Exchange(5, 7);
    total += Exchange(2 + 4 * kA2ProgramCycles, 2 + 4 * kA2ProgramCycles);
    for (uint64_t w = 0; w < words; w += kA2BlockWords) {
      const uint64_t count = std::min<uint64_t>(kA2BlockWords, words - w);
      total += Exchange(12, 12) + Reports(2 * count) + 2 * Reports(1);
    }
    total += Exchange(10, 11);
  }
  return total;
}

// --- C1: sectors of 64 KiB, sector 0 reserved, chunks of 8 KiB. -----------------------------
constexpr uint32_t kC1SectorSize = 0x10000;
constexpr uint32_t kC1ChunkSize = 8192;

// Flash setup, then per block: sector erase, one poll, the chunks (write command, data, one
// status byte), one region check.
int64_t C1Minimum(uint64_t imageLength) {
  int64_t total = kEnterAndFinish + Exchange(7, 5);
  for (uint64_t done = 0; done < imageLength; done += kC1SectorSize) {
    const uint64_t block = std::min<uint64_t>(kC1SectorSize, imageLength - done);
    total += Exchange(5, 5) + Exchange(5, 7);
    for (uint64_t c = 0; c < block; c += kC1ChunkSize) {
      total += Exchange(12, 12) + Reports(std::min<uint64_t>(kC1ChunkSize, block - c)) + 1;
    }
    total += Exchange(10, 11);
  }
  return total;
}

// --- A1: blocks of 64 KiB from 0x4000, sent in 64-byte messages. ----------------------------
constexpr uint32_t kA1BlockLength = 0x10000;
constexpr uint32_t kA1StartAddress = 0x4000;
constexpr uint32_t kA1ChipSize = 0x800000;

// Per block: the write command, the data in 64-byte messages, two status bytes; then one region
// check of the whole image.
int64_t A1Minimum(uint64_t imageLength) {
  int64_t total = kEnterAndFinish + Exchange(10, 11);
  for (uint64_t done = 0; done < imageLength; done += kA1BlockLength) {
    const uint64_t block = std::min<uint64_t>(kA1BlockLength, imageLength - done);
    total += Exchange(12, 12) + 2 * Reports(1);
    for (uint64_t p = 0; p < block; p += 64) total += Reports(std::min<uint64_t>(64, block - p));
  }
  return total;
}

struct Family {
  const char* name;
  uint8_t familyCode;
  std::string description;
  std::function<std::unique_ptr<emu::FamilyModel>()> model;
  int64_t (*minimum)(uint64_t imageLength);
};

const std::vector<Family>& Families() {
  static const auto* families = new std::vector<Family>{
      {"A2", 1, A2Description(),
       [] {
         emu::A2ModelConfig config;
         config.sectorAddresses = A2SectorAddresses();
         config.eraseCycles = kA2EraseCycles;
         config.busyPolls = 0;  // the fewest polls the protocol allows
         return std::make_unique<emu::A2Model>(config);
       },
       A2Minimum},
      {"C1", 3, pack::C1Description("0x10000"),
       [] {
         emu::C1ModelConfig config;
         config.capacity = 2 * kImageLength;
         config.busyPolls = 0;
         return std::make_unique<emu::C1Model>(config);
       },
       C1Minimum},
      {"A1", 2, pack::A1Description("0x800000", "0x10000"),
       [] {
         emu::A1ModelConfig config;
         config.startAddress = kA1StartAddress;
         config.chipSize = kA1ChipSize;
         return std::make_unique<emu::A1Model>(config);
       },
       A1Minimum},
  };
  return *families;
}

struct Report {
  std::array<uint8_t, HidDevice::kReportSize> bytes;
  int length;
};

// Passes every call to the emulator, counts the reports that cross and can keep the replies.
class CountingBackend final : public HidBackend {
 public:
  explicit CountingBackend(std::shared_ptr<emu::Emulator> emulator)
      : emulator_(std::move(emulator)) {}

  int64_t reports = 0;
  std::vector<Report>* recording = nullptr;

  int CountDevices(uint16_t vid, uint16_t pid) override {
    return emulator_->CountDevices(vid, pid);
  }
  Handle Open(uint16_t vid, uint16_t pid) override { return emulator_->Open(vid, pid); }
  int Write(Handle handle, const uint8_t* data, size_t length) override {
    const int n = emulator_->Write(handle, data, length);
    if (n > 0) ++reports;
    return n;
  }
  int Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) override {
    const int n = emulator_->Read(handle, data, length, timeout_ms);
    if (n > 0) {
      ++reports;
      if (recording) {
        Report r{};
        std::memcpy(r.bytes.data(), data, static_cast<size_t>(n));
        r.length = n;
        recording->push_back(r);
      }
    }
    return n;
  }
  void Close(Handle handle) override { emulator_->Close(handle); }
  void Exit() override { emulator_->Exit(); }
  std::string OpenError() override { return emulator_->OpenError(); }
  bool OpenDeniedPermission() override { return emulator_->OpenDeniedPermission(); }

 private:
  std::shared_ptr<emu::Emulator> emulator_;
};

// A device that answers with recorded replies in order and takes every report without work.
class ReplayBackend final : public HidBackend {
 public:
  explicit ReplayBackend(const std::vector<Report>& replies) : replies_(replies) {}
  int CountDevices(uint16_t, uint16_t) override { return 1; }
  Handle Open(uint16_t, uint16_t) override { return &token_; }
  int Write(Handle, const uint8_t*, size_t length) override { return static_cast<int>(length); }
  int Read(Handle, uint8_t* data, size_t length, int) override {
    if (next_ >= replies_.size()) return -1;
    const Report& r = replies_[next_++];
    const size_t n = std::min(length, static_cast<size_t>(r.length));
    std::memcpy(data, r.bytes.data(), n);
    return static_cast<int>(n);
  }
  void Close(Handle) override {}
  void Exit() override {}
  std::string OpenError() override { return {}; }
  bool OpenDeniedPermission() override { return false; }
  void Rewind() { next_ = 0; }

 private:
  const std::vector<Report>& replies_;
  size_t next_ = 0;
  int token_ = 0;
};

// The family's package (one data pack, a 4 MiB image) opened as the window opens it, with its
// work files in the scratch folder.
std::unique_ptr<DatFileExamine> OpenPackage(const Family& family) {
  const std::string folder = ScratchFolder() + "/" + family.name;
  const std::string path = folder + ".dat";
  pack::PackageContents contents;
  contents.packs = {
      {family.name, 0, family.description, pack::GenerateImage(kImageLength, family.familyCode)}};
  std::vector<uint8_t> bytes;
  std::string error;
  std::error_code made;
  std::filesystem::create_directories(folder, made);
  if (made || !pack::BuildPackage(contents, {}, bytes, error) ||
      !pack::WritePackageFile(path, bytes)) {
    return nullptr;
  }
  auto package = std::make_unique<DatFileExamine>(folder);
  if (!package->ReadFile(path) || !package->Examine()) return nullptr;
  return package;
}

bool RunOnce(DatFileExamine& package) {
  return RunUpdate(PackageSteps(package), [](int32_t) {});
}

// Quiet step log and a virtual clock for the length of one benchmark.
struct RunEnvironment {
  RunEnvironment() : previousLog(SetLogSink([](std::string_view) {})), clock(&virtualClock) {
    HidDevice::SetIds(kVid, kPid);
  }
  ~RunEnvironment() {
    HidDevice::UseBackend(nullptr);
    SetLogSink(previousLog);
  }
  LogSink previousLog;
  VirtualClock virtualClock;
  ScopedProcessClock clock;
};

std::shared_ptr<CountingBackend> AttachEmulator(const Family& family) {
  auto emulator = std::make_shared<emu::Emulator>();
  emulator->SetTraceLimit(0);
  emulator->Attach(kVid, kPid).AddFamily(family.familyCode, family.model());
  return std::make_shared<CountingBackend>(emulator);
}

void SetCounters(benchmark::State& state, const Family& family, int64_t reports, bool ok) {
  state.counters[kReports] = static_cast<double>(reports);
  state.counters[kMinimumReports] = static_cast<double>(family.minimum(kImageLength));
  state.counters[kImageBytes] = static_cast<double>(kImageLength);
  state.counters[kSucceeded] = ok ? 1 : 0;
}

void UpdateWithEmulator(benchmark::State& state, const Family& family) {
  RunEnvironment environment;
  const auto package = OpenPackage(family);
  if (!package) return state.SkipWithError("the package was refused");
  const auto backend = AttachEmulator(family);
  HidDevice::UseBackend(backend);
  bool ok = true;
  int64_t reports = 0;
  for (auto _ : state) {
    backend->reports = 0;
    ok = RunOnce(*package) && ok;
    reports = backend->reports;
  }
  SetCounters(state, family, reports, ok);
}

void UpdateHostOnly(benchmark::State& state, const Family& family) {
  RunEnvironment environment;
  const auto package = OpenPackage(family);
  if (!package) return state.SkipWithError("the package was refused");
  std::vector<Report> replies;
  const auto recorder = AttachEmulator(family);
  recorder->recording = &replies;
  HidDevice::UseBackend(recorder);
  bool ok = RunOnce(*package);
  const int64_t reports = recorder->reports;
  const auto replay = std::make_shared<ReplayBackend>(replies);
  HidDevice::UseBackend(replay);
  const uint64_t allocationsBefore = Allocations();
  for (auto _ : state) {
    replay->Rewind();
    ok = RunOnce(*package) && ok;
  }
  SetCounters(state, family, reports, ok);
  state.counters[kAllocations] = static_cast<double>(Allocations() - allocationsBefore) /
                                 static_cast<double>(state.iterations());
}

const bool registered = [] {
  for (const Family& family : Families()) {
    benchmark::RegisterBenchmark(names::UpdateEmulated(family.name).c_str(), UpdateWithEmulator,
                                 family)
        ->MinTime(0.5)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(names::UpdateHostOnly(family.name).c_str(), UpdateHostOnly, family)
        ->MinTime(0.5)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
}  // namespace vortan::bench
