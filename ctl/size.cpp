// Sizes as people and scripts write them.
#include "ctl/ctl.h"

namespace ctl {

bool parseSize(const std::string& text, Size& size, std::string& error) {
  const auto bad = [&](const std::string& why) {
    error = "'" + displayName(text) + "' " + why;
    return false;
  };
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return bad("is not a size: write WIDTHxHEIGHT, e.g. 1920x1080");
  std::int64_t parts[2] = {0, 0};
  const std::string pieces[2] = {text.substr(0, x), text.substr(x + 1)};
  for (int i = 0; i < 2; ++i) {
    if (pieces[i].empty() || pieces[i].size() > 9 ||
        pieces[i].find_first_not_of("0123456789") != std::string::npos) {
      return bad("is not a size: write WIDTHxHEIGHT, e.g. 1920x1080");
    }
    parts[i] = std::stoll(pieces[i]);
    if (parts[i] <= 0 || parts[i] > MAX_DIMENSION) {
      return bad("is not a possible size: width and height go from 1 to " +
                 std::to_string(MAX_DIMENSION));
    }
  }
  size = {static_cast<std::int32_t>(parts[0]), static_cast<std::int32_t>(parts[1])};
  return true;
}

std::string sizeText(Size size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

}  // namespace ctl
