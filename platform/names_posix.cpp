// Names from the environment on POSIX systems: programs read their bytes as they are.
#include "platform/names.h"

namespace platform {

bool environmentValueFitsCodePage(const char* /*name*/) noexcept {
  return true;
}

}  // namespace platform
