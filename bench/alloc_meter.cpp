// A malloc interposer for the benchmark binary: the calls are passed to glibc's own allocator
// and, while a window is open, the usable size of every block (what malloc really set aside
// for it, rounding included) is added on allocation and taken off on release.
#include "bench/alloc_meter.h"

#include <malloc.h>

#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t size) noexcept;
void* __libc_calloc(std::size_t count, std::size_t size) noexcept;
void* __libc_realloc(void* memory, std::size_t size) noexcept;
void* __libc_memalign(std::size_t alignment, std::size_t size) noexcept;
void* __libc_valloc(std::size_t size) noexcept;
void* __libc_pvalloc(std::size_t size) noexcept;
void __libc_free(void* memory) noexcept;
}

namespace {

// The benchmark runs on one thread; the counters need no atomics.
bool windowOpen = false;
std::int64_t live = 0;
std::int64_t peak = 0;
std::uint64_t allocations = 0;

void gained(void* memory) {
  if (!windowOpen || memory == nullptr) return;
  live += static_cast<std::int64_t>(malloc_usable_size(memory));
  if (live > peak) peak = live;
  ++allocations;
}

void lost(void* memory) {
  if (!windowOpen || memory == nullptr) return;
  live -= static_cast<std::int64_t>(malloc_usable_size(memory));
}

}  // namespace

namespace alloc_meter {

void open() noexcept {
  live = 0;
  peak = 0;
  allocations = 0;
  windowOpen = true;
}

Window close() noexcept {
  windowOpen = false;
  return Window{peak, live, allocations};
}

}  // namespace alloc_meter

extern "C" {

void* malloc(std::size_t size) noexcept {
  void* memory = __libc_malloc(size);
  gained(memory);
  return memory;
}

void* calloc(std::size_t count, std::size_t size) noexcept {
  void* memory = __libc_calloc(count, size);
  gained(memory);
  return memory;
}

void* realloc(void* memory, std::size_t size) noexcept {
  const std::int64_t before =
      windowOpen && memory != nullptr ? static_cast<std::int64_t>(malloc_usable_size(memory)) : 0;
  void* moved = __libc_realloc(memory, size);
  if (moved == nullptr && size != 0) return nullptr;  // the old block is untouched
  if (windowOpen) {
    live -= before;
    if (moved != nullptr) {
      live += static_cast<std::int64_t>(malloc_usable_size(moved));
      if (live > peak) peak = live;
      ++allocations;
    }
  }
  return moved;
}

void free(void* memory) noexcept {
  lost(memory);
  __libc_free(memory);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
  void* memory = __libc_memalign(alignment, size);
  gained(memory);
  return memory;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  return memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* memory = memalign(alignment, size);
  if (memory == nullptr) return ENOMEM;
  *result = memory;
  return 0;
}

void* valloc(std::size_t size) noexcept {
  void* memory = __libc_valloc(size);
  gained(memory);
  return memory;
}

void* pvalloc(std::size_t size) noexcept {
  void* memory = __libc_pvalloc(size);
  gained(memory);
  return memory;
}

}  // extern "C"
