// User names as the keeper reads them, and as people should see them.
#include <cstdio>

#include "ctl/ctl.h"
#include "keeper/keeper.h"
#include "keeper/profiles.h"

namespace ctl {

SessionUser currentUser() {
  const keeper::UserName read = keeper::currentUserName();
  SessionUser user{read.text, UserNameState::Set};
  if (user.name.empty()) {
    user.state = UserNameState::Empty;
  } else if (user.name == std::string(keeper::USER_NAME_CAPACITY, ' ')) {
    user.state = UserNameState::Unset;
  }
  return user;
}

bool canKeepSizeFor(const std::string& name) {
  // A zero byte would end the name the keeper sees early.
  return name.find('\0') == std::string::npos && keeper::canKeepSizeFor(name.c_str());
}

std::string displayName(const std::string& name) {
  if (!name.empty() && name.find_first_not_of(' ') == std::string::npos) {
    return "(" + std::to_string(name.size()) + " spaces)";
  }
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += c;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  return shown.empty() ? "(empty)" : shown;
}

}  // namespace ctl
