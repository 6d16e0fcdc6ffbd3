// Environment and time on Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace platform {
namespace {

// Buffers up to this size are saved on the stack around the call; larger (and empty) ones are
// asked about first, so the call on them is made only when the value fits.
constexpr std::uint32_t SAVED_CAPACITY = 1024;

}  // namespace

// Windows does not promise to leave the buffer untouched when a value is missing or too long,
// so the caller's bytes are kept aside and put back in those two cases.
std::uint32_t readEnvironment(const char* name, char* buffer, std::uint32_t capacity) noexcept {
  if (capacity == 0 || capacity > SAVED_CAPACITY) {
    ::SetLastError(NO_ERROR);
    const DWORD needed = ::GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return 0;
    if (needed > capacity) return needed;
    return ::GetEnvironmentVariableA(name, buffer, capacity);
  }
  char saved[SAVED_CAPACITY];
  std::memcpy(saved, buffer, capacity);
  ::SetLastError(NO_ERROR);
  const DWORD result = ::GetEnvironmentVariableA(name, buffer, capacity);
  // An empty value also gives 0, but leaves the error code alone.
  const bool missing = result == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND;
  if (missing || result >= capacity) std::memcpy(buffer, saved, capacity);
  return result;
}

// Sleep takes all ones as "for ever", so that one wait is made in two.
void sleepMilliseconds(std::uint32_t milliseconds) noexcept {
  if (milliseconds == INFINITE) {
    ::Sleep(milliseconds - 1);
    milliseconds = 1;
  }
  ::Sleep(milliseconds);
}

}  // namespace platform
