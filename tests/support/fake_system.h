// A fake environment and display for the keeper's tests: they answer what the test set and
// record every switch asked of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct DisplaySwitch {
  std::int32_t width;
  std::int32_t height;
  std::int32_t bitsPerPixel;
  bool operator==(const DisplaySwitch&) const = default;
};

struct FakeSystem {
  std::optional<std::string> userName;  // USERNAME; nullopt: not set
  std::int32_t width = 1024;
  std::int32_t height = 768;
  bool displayFollowsSwitch = true;  // a switch changes the size that is read afterwards
  std::vector<DisplaySwitch> switches;
  std::uint32_t sleeps = 0;
};

// The one fake the platform calls answer from; reset by each test.
FakeSystem& fakeSystem();

}  // namespace testing_support
