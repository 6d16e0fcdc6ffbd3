// The output that shows the primary display on X11, shared by the keeper's display calls and
// the tools' list of modes, so that the two never disagree on which output that is: the primary
// output when it shows a mode, else the first connected output that does.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace platform::x11 {

// The output showing the primary display and its CRTC, with the structures they came from.
struct Target {
  XRRScreenResources* resources = nullptr;
  XRROutputInfo* output = nullptr;
  RRCrtc crtcId = None;
  XRRCrtcInfo* crtc = nullptr;

  Target() = default;
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
  ~Target();
};

// Finds the output of the primary display over `display`, the live connection. Reads the
// server's present configuration only: asking for a fresh one makes it probe the hardware,
// which is slow and can make monitors flicker. False when there is none or the server could
// not tell.
bool findTarget(Display* display, Target* target) noexcept;

// The mode `id` among the screen's resources, or nullptr.
const XRRModeInfo* findMode(const XRRScreenResources& resources, RRMode id) noexcept;

// Frames per second of `mode`; 0 when its timings say nothing.
double refreshRate(const XRRModeInfo& mode) noexcept;

// Whether the CRTC shows its picture turned sideways, so that a mode's width is its height.
inline bool sideways(const XRRCrtcInfo& crtc) noexcept {
  return (crtc.rotation & (RR_Rotate_90 | RR_Rotate_270)) != 0;
}

}  // namespace platform::x11
