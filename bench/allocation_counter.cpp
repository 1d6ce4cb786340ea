// SPDX-License-Identifier: Apache-2.0
// The program's operator new and delete, counting allocations so the update benchmarks can show
// whether the host allocates per report. Alone in this file so nothing inlines them.
#include <atomic>
#include <cstdlib>
#include <new>

#include "bench/bench_support.h"

namespace {
std::atomic<uint64_t> allocations{0};
}  // namespace

uint64_t vortan::bench::Allocations() {
  return allocations.load(std::memory_order_relaxed);
}

void* operator new(size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
