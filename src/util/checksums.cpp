// SPDX-License-Identifier: Apache-2.0
#include "util/checksums.h"

#if defined(__x86_64__)
#include <emmintrin.h>  // SSE2, present on every x86-64
#endif

namespace vortan {

#if defined(__x86_64__)

namespace {

// Sum of the two 64-bit lanes.
uint64_t AddLanes(__m128i v) {
  return static_cast<uint64_t>(_mm_cvtsi128_si64(v)) +
         static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
}

__m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

// Whole images are summed while a package opens and before every block goes out, so the sums
// must keep pace with memory. The compiler does not vectorise the plain loops at -O2, hence SSE2.
uint32_t ByteSum32(const uint8_t* data, size_t length) {
  // psadbw against zero adds 8 bytes into each 64-bit lane; four accumulators hide its latency.
  const __m128i zero = _mm_setzero_si128();
  __m128i a0 = zero, a1 = zero, a2 = zero, a3 = zero;
  size_t i = 0;
  for (; i + 64 <= length; i += 64) {
    a0 = _mm_add_epi64(a0, _mm_sad_epu8(Load(data + i), zero));
    a1 = _mm_add_epi64(a1, _mm_sad_epu8(Load(data + i + 16), zero));
    a2 = _mm_add_epi64(a2, _mm_sad_epu8(Load(data + i + 32), zero));
    a3 = _mm_add_epi64(a3, _mm_sad_epu8(Load(data + i + 48), zero));
  }
  uint64_t sum = AddLanes(_mm_add_epi64(_mm_add_epi64(a0, a1), _mm_add_epi64(a2, a3)));
  for (; i < length; ++i) sum += data[i];
  return static_cast<uint32_t>(sum);
}

uint16_t WordSum16(const uint8_t* data, size_t length) {
  // 16-bit lanes wrap modulo 2^16 exactly as the sum does; `i` stays even, so each lane holds
  // whole little-endian words.
  __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
  const size_t even = length & ~size_t{1};
  size_t i = 0;
  for (; i + 64 <= even; i += 64) {
    a0 = _mm_add_epi16(a0, Load(data + i));
    a1 = _mm_add_epi16(a1, Load(data + i + 16));
    a2 = _mm_add_epi16(a2, Load(data + i + 32));
    a3 = _mm_add_epi16(a3, Load(data + i + 48));
  }
  const __m128i lanes = _mm_add_epi16(_mm_add_epi16(a0, a1), _mm_add_epi16(a2, a3));
  alignas(16) uint16_t lane[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(lane), lanes);
  uint32_t total = 0;
  for (uint16_t v : lane) total += v;
  for (; i < even; i += 2) total += data[i] | (data[i + 1] << 8);
  return static_cast<uint16_t>(total);
}

#else

uint32_t ByteSum32(const uint8_t* data, size_t length) {
  uint64_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum += data[i];
  return static_cast<uint32_t>(sum);
}

uint16_t WordSum16(const uint8_t* data, size_t length) {
  // Summing low and high bytes separately equals summing the words modulo 2^16.
  uint64_t low = 0;
  uint64_t high = 0;
  const size_t words = length / 2;
  for (size_t k = 0; k < words; ++k) {
    low += data[2 * k];
    high += data[2 * k + 1];
  }
  return static_cast<uint16_t>(low + (high << 8));
}

#endif

}  // namespace vortan
