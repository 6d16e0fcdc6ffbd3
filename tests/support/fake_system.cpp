// The environment, display and time calls of the platform, answered by the fake.
#include "support/fake_system.h"

#include <cstring>

#include "platform/platform.h"

namespace testing_support {

FakeSystem& fakeSystem() {
  static FakeSystem fake;
  return fake;
}

}  // namespace testing_support

namespace platform {

using testing_support::fakeSystem;

std::uint32_t readEnvironment(const char* name, char* buffer, std::uint32_t capacity) noexcept {
  if (std::strcmp(name, "USERNAME") != 0 || !fakeSystem().userName) return 0;
  const std::string& value = *fakeSystem().userName;
  if (value.size() >= capacity) return static_cast<std::uint32_t>(value.size() + 1);
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<std::uint32_t>(value.size());
}

std::int32_t primaryDisplayWidth() noexcept { return fakeSystem().width; }
std::int32_t primaryDisplayHeight() noexcept { return fakeSystem().height; }

void changeDisplayMode(std::int32_t width, std::int32_t height,
                       std::int32_t bitsPerPixel) noexcept {
  fakeSystem().switches.push_back({width, height, bitsPerPixel});
  if (fakeSystem().displayFollowsSwitch) {
    fakeSystem().width = width;
    fakeSystem().height = height;
  }
}

void sleepMilliseconds(std::uint32_t) noexcept { ++fakeSystem().sleeps; }

}  // namespace platform
