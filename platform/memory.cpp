// The one allocator of the program: nothrow, reporting failure, and able to fail on request
// so that tests can walk every allocation's failure path.
#include <cstdlib>

#include "platform/platform.h"
#include "platform/platform_testing.h"

namespace platform {
namespace {

std::uint64_t attempts = 0;
std::uint64_t refusals = 0;
std::uint64_t failAt = 0;  // absolute attempt number that fails; 0 = none
bool failFromThenOn = false;

bool refuse(std::uint64_t attempt) {
  if (failAt == 0 || attempt < failAt) return false;
  return attempt == failAt || failFromThenOn;
}

}  // namespace

void* allocate(std::size_t size) noexcept {
  const std::uint64_t attempt = ++attempts;
  if (refuse(attempt)) {
    ++refusals;
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}

void release(void* memory) noexcept { std::free(memory); }

void failAllocation(std::uint64_t nth, bool persistent) noexcept {
  failAt = nth == 0 ? 0 : attempts + nth;
  failFromThenOn = persistent;
}

std::uint64_t allocationCount() noexcept { return attempts; }

std::uint64_t injectedAllocationFailures() noexcept { return refusals; }

}  // namespace platform
