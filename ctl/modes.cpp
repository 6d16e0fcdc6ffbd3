// The primary display: its modes, one per size, and the size it shows.
#include <algorithm>

#include "ctl/ctl.h"
#include "platform/platform.h"
#include "platform/tools.h"

namespace ctl {
namespace {

void addMode(void* context, std::int32_t width, std::int32_t height, std::int32_t hz,
             bool present) {
  auto& modes = *static_cast<std::vector<Mode>*>(context);
  const Size size{width, height};
  auto mode =
      std::find_if(modes.begin(), modes.end(), [&](const Mode& m) { return m.size == size; });
  if (mode == modes.end()) mode = modes.insert(modes.end(), Mode{size, {}, false});
  if (hz > 0 && std::find(mode->refreshRates.begin(), mode->refreshRates.end(), hz) ==
                    mode->refreshRates.end()) {
    mode->refreshRates.push_back(hz);
  }
  mode->present = mode->present || present;
}

std::int64_t area(Size size) {
  return std::int64_t{size.width} * size.height;
}

}  // namespace

bool listModes(std::vector<Mode>& modes) {
  modes.clear();
  if (!platform::visitDisplayModes(addMode, &modes)) {
    modes.clear();
    return false;
  }
  for (Mode& mode : modes) std::sort(mode.refreshRates.rbegin(), mode.refreshRates.rend());
  std::stable_sort(modes.begin(), modes.end(), [](const Mode& a, const Mode& b) {
    return area(a.size) > area(b.size) ||
           (area(a.size) == area(b.size) && a.size.width > b.size.width);
  });
  return !modes.empty();
}

Size screenSize() {
  const std::int32_t width = platform::primaryDisplayWidth();
  const std::int32_t height = platform::primaryDisplayHeight();
  return width > 0 && height > 0 ? Size{width, height} : Size{};
}

}  // namespace ctl
