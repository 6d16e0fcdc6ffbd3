// Test hooks of the platform layer, for tests, benchmarks and fuzz targets only: allocations
// that fail on request, counts of them, and the real file calls to put back after a test has
// routed them elsewhere.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

// The `nth` allocation from now on fails (1 = the next one). With `persistent`, every
// allocation after it fails too. nth = 0 switches failures off.
void failAllocation(std::uint64_t nth, bool persistent) noexcept;

// Number of allocations attempted since the process started (failed ones included).
std::uint64_t allocationCount() noexcept;

// Number of allocations refused by failAllocation since the process started.
std::uint64_t injectedAllocationFailures() noexcept;

// The real file calls, as fileCalls() holds them when nothing has overridden them.
const FileCalls& defaultFileCalls() noexcept;

// No failures armed and the real file calls in place; put back so when it goes out of scope.
class ScopedPlatformDefaults {
 public:
  ScopedPlatformDefaults() noexcept { reset(); }
  ~ScopedPlatformDefaults() { reset(); }
  ScopedPlatformDefaults(const ScopedPlatformDefaults&) = delete;
  ScopedPlatformDefaults& operator=(const ScopedPlatformDefaults&) = delete;

  // Puts the defaults back now.
  static void reset() noexcept {
    failAllocation(0, /*persistent=*/false);
    fileCalls() = defaultFileCalls();
  }
};

}  // namespace platform
