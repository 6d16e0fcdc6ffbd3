// Environment and time on POSIX systems.
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace platform {

std::uint32_t readEnvironment(const char* name, char* buffer, std::uint32_t capacity) noexcept {
  const char* value = std::getenv(name);
  if (value == nullptr) return 0;
  const std::size_t length = std::strlen(value);
  if (length >= capacity) {
    return length >= UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(length + 1);
  }
  std::memcpy(buffer, value, length + 1);
  return static_cast<std::uint32_t>(length);
}

void sleepMilliseconds(std::uint32_t milliseconds) noexcept {
  timespec wait{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
