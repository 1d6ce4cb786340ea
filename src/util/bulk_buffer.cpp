// SPDX-License-Identifier: Apache-2.0
#include "util/bulk_buffer.h"

#include <sys/mman.h>

#include <new>
#include <stdexcept>

namespace vortan {
namespace {

constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
// Below this a few hundred faults cost too little to be worth the advice.
constexpr size_t kAdviseFrom = size_t{4} << 20;

// Advice only: where the system has no transparent huge pages the call fails and changes nothing.
void AdviseHugePages(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHugePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace

bool SizeForWholeRead(ByteBuffer& buffer, size_t length) {
  ByteBuffer().swap(buffer);
  try {
    // Reserved first so the advice reaches the pages before the zeroing touches them.
    buffer.reserve(length);
    if (length >= kAdviseFrom) AdviseHugePages(buffer.data(), buffer.capacity());
    buffer.resize(length);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

}  // namespace vortan
