// Start-up on POSIX systems: nothing to restrict.
#include "platform/platform.h"

namespace platform {

void loadLibrariesFromSystemOnly() noexcept {}

}  // namespace platform
