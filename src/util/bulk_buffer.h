// SPDX-License-Identifier: Apache-2.0
#pragma once
// Buffers for whole-file reads of packages and images, which run to tens of MiB.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace vortan {

// An allocator that leaves bytes constructed without a value uninitialised: a buffer about to be
// filled by read() need not be zeroed first, which costs a pass over tens of MiB.
template <class T>
struct NoInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = NoInitAllocator<U>;
  };
  NoInitAllocator() = default;
  template <class U>
  NoInitAllocator(const NoInitAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// The buffer that holds a whole package or image.
using ByteBuffer = std::vector<uint8_t, NoInitAllocator<uint8_t>>;

// Makes `buffer` exactly `length` bytes (not zeroed), ready to be read into. A large buffer is
// first asked for 2 MiB pages: filling 64 MiB in 4 KiB pages takes 16384 page faults, which cost
// several times the read itself. False, with `buffer` empty, when the memory cannot be had.
bool SizeForWholeRead(ByteBuffer& buffer, size_t length);

}  // namespace vortan
