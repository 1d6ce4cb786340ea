// SPDX-License-Identifier: Apache-2.0
// The sums over 64 MiB, each beside a plain read of the same memory in the same run: the sums
// must keep up with memory, so a whole-image checksum never costs more than reading the image.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "package_builder/package_builder.h"
#include "updaters/ax_update.h"
#include "util/checksums.h"

namespace vortan::bench {
namespace {

constexpr size_t kLength = 64 * kMiB;

const std::vector<uint8_t>& Buffer() {
  static const auto* bytes = new std::vector<uint8_t>(pack::GenerateImage(kLength, 64));
  return *bytes;
}

// An updater holding the buffer as its image, to reach ImageChecksum.
class ImageHolder final : public AXUpdate {
 public:
  explicit ImageHolder(const std::vector<uint8_t>& image) : AXUpdate("", "") {
    imageData.assign(image.begin(), image.end());
    imageLength = static_cast<int64_t>(imageData.size());
  }
};

// The reference: every 64-bit word of the buffer read once and added, the least work that still
// reads all of it.
uint64_t ReadEveryWord(const uint8_t* data, size_t length) {
  uint64_t sum = 0;
  for (size_t i = 0; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    sum += word;
  }
  return sum;
}

template <typename Sum>
void Measure(benchmark::State& state, Sum sum) {
  const std::vector<uint8_t>& bytes = Buffer();
  for (auto _ : state) benchmark::DoNotOptimize(sum(bytes.data(), bytes.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void ReadReference(benchmark::State& state) {
  Measure(state, ReadEveryWord);
}

void ByteSum(benchmark::State& state) {
  Measure(state, ByteSum32);
}

void ByteChecksumBench(benchmark::State& state) {
  Measure(state, [](const uint8_t* d, size_t n) {
    return AXUpdate::ByteChecksum(d, static_cast<int32_t>(n));
  });
}

void WordChecksumBench(benchmark::State& state) {
  Measure(state, [](const uint8_t* d, size_t n) {
    return AXUpdate::WordChecksum(d, static_cast<int32_t>(n));
  });
}

void ImageChecksumBench(benchmark::State& state) {
  const ImageHolder holder(Buffer());
  for (auto _ : state) benchmark::DoNotOptimize(holder.ImageChecksum());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLength));
}

// Each one measured three times; the table takes the best of each, as the machine is shared.
void Register(const char* name, void (*function)(benchmark::State&)) {
  benchmark::RegisterBenchmark(name, function)->MinTime(0.2)->Repetitions(3);
}

const bool registered = [] {
  Register(names::kReadReference, ReadReference);
  Register(names::kByteSum, ByteSum);
  Register(names::kByteChecksum, ByteChecksumBench);
  Register(names::kWordChecksum, WordChecksumBench);
  Register(names::kImageChecksum, ImageChecksumBench);
  return true;
}();

}  // namespace
}  // namespace vortan::bench
