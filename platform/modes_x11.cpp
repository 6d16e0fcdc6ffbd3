// The primary display's modes on X11: the modes RandR lists for the output that shows the
// primary display (the primary output, else the first connected one that shows a mode).
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cmath>

#include "platform/tools.h"
#include "platform/x11_connection.h"

namespace platform {
namespace {

using namespace x11;

const XRRModeInfo* findMode(const XRRScreenResources& resources, RRMode id) {
  for (int i = 0; i < resources.nmode; ++i) {
    if (resources.modes[i].id == id) return &resources.modes[i];
  }
  return nullptr;
}

std::int32_t refreshHz(const XRRModeInfo& mode) {
  double lines = mode.vTotal;
  if ((mode.modeFlags & RR_DoubleScan) != 0) lines *= 2;
  if ((mode.modeFlags & RR_Interlace) != 0) lines /= 2;
  const double dots = static_cast<double>(mode.hTotal) * lines;
  return dots > 0 ? static_cast<std::int32_t>(std::lround(mode.dotClock / dots)) : 0;
}

// Visits the modes of `outputId` when it shows one (and, with `mustBeConnected`, has a monitor).
bool visitOutput(Display* display, XRRScreenResources* resources, RROutput outputId,
                 bool mustBeConnected, ModeVisitor each, void* context) {
  XRROutputInfo* output = XRRGetOutputInfo(display, resources, outputId);
  if (output == nullptr) return false;
  bool shown = false;
  if (output->crtc != None && (!mustBeConnected || output->connection == RR_Connected)) {
    XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, output->crtc);
    if (crtc != nullptr && crtc->mode != None) {
      shown = true;
      const bool sideways = (crtc->rotation & (RR_Rotate_90 | RR_Rotate_270)) != 0;
      for (int i = 0; i < output->nmode; ++i) {
        const XRRModeInfo* mode = findMode(*resources, output->modes[i]);
        if (mode == nullptr) continue;
        const auto w = static_cast<std::int32_t>(sideways ? mode->height : mode->width);
        const auto h = static_cast<std::int32_t>(sideways ? mode->width : mode->height);
        each(context, w, h, refreshHz(*mode), mode->id == crtc->mode);
      }
    }
    if (crtc != nullptr) XRRFreeCrtcInfo(crtc);
  }
  XRRFreeOutputInfo(output);
  return shown;
}

}  // namespace

bool visitDisplayModes(ModeVisitor each, void* context) noexcept {
  PipeSignalBlock pipeBlock;
  Display* display = liveDisplay();
  if (display == nullptr || !connection.randr) return false;
  lastErrorCode = Success;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, connection.root);
  if (resources == nullptr) return false;
  const RROutput primary = XRRGetOutputPrimary(display, connection.root);
  bool found = primary != None && visitOutput(display, resources, primary, false, each, context);
  for (int i = 0; !found && i < resources->noutput && !connectionLost; ++i) {
    found = visitOutput(display, resources, resources->outputs[i], true, each, context);
  }
  XRRFreeScreenResources(resources);
  const bool ok = found && !connectionLost && lastErrorCode == Success;
  if (connectionLost) closeConnection();
  return ok;
}

}  // namespace platform
