// The primary display's modes on X11: the modes RandR lists for the output that shows the
// primary display (x11_output.h), sizes as the screen shows them.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cmath>

#include "platform/tools.h"
#include "platform/x11_connection.h"
#include "platform/x11_output.h"

namespace platform {

using namespace x11;

bool visitDisplayModes(ModeVisitor each, void* context) noexcept {
  PipeSignalBlock pipeBlock;
  Display* display = liveDisplay();
  if (display == nullptr || !connection.randr) return false;
  lastErrorCode = Success;
  Target target;
  const bool found = findTarget(display, &target);
  if (found) {
    const XRRCrtcInfo& crtc = *target.crtc;
    for (int i = 0; i < target.output->nmode; ++i) {
      const XRRModeInfo* mode = findMode(*target.resources, target.output->modes[i]);
      if (mode == nullptr) continue;
      const auto w = static_cast<std::int32_t>(sideways(crtc) ? mode->height : mode->width);
      const auto h = static_cast<std::int32_t>(sideways(crtc) ? mode->width : mode->height);
      each(context, w, h, static_cast<std::int32_t>(std::lround(refreshRate(*mode))),
           mode->id == crtc.mode);
    }
  }
  const bool ok = found && !connectionLost && lastErrorCode == Success;
  if (connectionLost) closeConnection();
  return ok;
}

}  // namespace platform
