// The output that shows the primary display on X11.
#include "platform/x11_output.h"

#include "platform/x11_connection.h"

namespace platform::x11 {
namespace {

// Takes `outputId` as the target when it drives a CRTC that shows a mode; with
// `mustBeConnected`, only when a monitor is known to be attached as well.
bool takeOutput(Display* display, RROutput outputId, bool mustBeConnected,
                Target* target) noexcept {
  XRROutputInfo* output = XRRGetOutputInfo(display, target->resources, outputId);
  if (output == nullptr) return false;
  if (output->crtc != None && (!mustBeConnected || output->connection == RR_Connected)) {
    XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, target->resources, output->crtc);
    if (crtc != nullptr && crtc->mode != None) {
      target->output = output;
      target->crtcId = output->crtc;
      target->crtc = crtc;
      return true;
    }
    if (crtc != nullptr) XRRFreeCrtcInfo(crtc);
  }
  XRRFreeOutputInfo(output);
  return false;
}

}  // namespace

Target::~Target() {
  if (crtc != nullptr) XRRFreeCrtcInfo(crtc);
  if (output != nullptr) XRRFreeOutputInfo(output);
  if (resources != nullptr) XRRFreeScreenResources(resources);
}

bool findTarget(Display* display, Target* target) noexcept {
  target->resources = XRRGetScreenResourcesCurrent(display, connection.root);
  if (target->resources == nullptr) return false;
  const RROutput primary = XRRGetOutputPrimary(display, connection.root);
  if (primary != None && takeOutput(display, primary, /*mustBeConnected=*/false, target))
    return true;
  for (int i = 0; i < target->resources->noutput && !connectionLost; ++i) {
    if (takeOutput(display, target->resources->outputs[i], /*mustBeConnected=*/true, target))
      return true;
  }
  return false;
}

const XRRModeInfo* findMode(const XRRScreenResources& resources, RRMode id) noexcept {
  for (int i = 0; i < resources.nmode; ++i) {
    if (resources.modes[i].id == id) return &resources.modes[i];
  }
  return nullptr;
}

double refreshRate(const XRRModeInfo& mode) noexcept {
  double lines = mode.vTotal;
  if ((mode.modeFlags & RR_DoubleScan) != 0) lines *= 2;
  if ((mode.modeFlags & RR_Interlace) != 0) lines /= 2;
  const double dots = static_cast<double>(mode.hTotal) * lines;
  return dots > 0 ? static_cast<double>(mode.dotClock) / dots : 0;
}

}  // namespace platform::x11
