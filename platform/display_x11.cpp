// The primary display on X11: its present size and mode switches through RandR 1.3, over the
// connection of x11_connection.h.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cmath>

#include "platform/platform.h"
#include "platform/x11_connection.h"
#include "platform/x11_output.h"

namespace platform {
namespace {

using namespace x11;

// X coordinates are 16-bit: no screen is larger on either side.
constexpr std::int32_t LARGEST_SIDE = 32767;
// The density assumed when the server reports no physical size.
constexpr double FALLBACK_PIXELS_PER_MM = 96.0 / 25.4;

// The screen's size as Xlib last heard it.
Extent screenSize(Display* display) noexcept {
  const int screen = DefaultScreen(display);
  return {DisplayWidth(display, screen), DisplayHeight(display, screen)};
}

// Asks the server for the primary display's size: the CRTC's size (already turned for a
// rotated output), or the whole screen when RandR is missing or no output shows anything.
// False when the answer could not be had.
bool askSize(Display* display, Extent* size) noexcept {
  lastErrorCode = Success;
  if (connection.randr) {
    Target target;
    if (findTarget(display, &target)) {
      *size = {static_cast<std::int32_t>(target.crtc->width),
               static_cast<std::int32_t>(target.crtc->height)};
      return !connectionLost && lastErrorCode == Success;
    }
  }
  if (connectionLost || lastErrorCode != Success) return false;
  *size = screenSize(display);
  return true;
}

// The primary display's size, asked of the server only after it announced a change; 0 x 0
// when no server can be reached or the connection was lost during the call.
Extent presentSize() noexcept {
  PipeSignalBlock pipeBlock;
  Display* display = liveDisplay();
  if (display == nullptr) return {};
  takeEvents();
  // A second try covers a configuration that changed under the first; should that fail too,
  // the size last known stands in.
  for (int attempt = 0; attempt < 2 && !connection.sizeKnown && !connectionLost; ++attempt) {
    Extent asked;
    if (askSize(display, &asked)) {
      connection.size = asked;
      connection.sizeKnown = true;
    }
  }
  if (connectionLost) {
    closeConnection();
    return {};
  }
  return connection.size;
}

// The target output's mode of exactly `width` x `height` before rotation whose refresh rate
// is closest to the present one (the first listed among equals); None when it has none.
RRMode chooseMode(const Target& target, unsigned width, unsigned height) noexcept {
  const XRRModeInfo* present = findMode(*target.resources, target.crtc->mode);
  const double presentRate = present != nullptr ? refreshRate(*present) : 0;
  RRMode best = None;
  double bestDistance = 0;
  for (int i = 0; i < target.output->nmode; ++i) {
    const XRRModeInfo* mode = findMode(*target.resources, target.output->modes[i]);
    if (mode == nullptr || mode->width != width || mode->height != height) continue;
    const double distance = std::fabs(refreshRate(*mode) - presentRate);
    if (best == None || distance < bestDistance) {
      best = mode->id;
      bestDistance = distance;
    }
  }
  return best;
}

// The screen size that holds every active CRTC once the target's CRTC shows `size` (in
// screen orientation) at its present place. False when a CRTC cannot be read.
bool boundingSize(Display* display, const Target& target, Extent size, Extent* box) noexcept {
  std::int64_t right = static_cast<std::int64_t>(target.crtc->x) + size.width;
  std::int64_t bottom = static_cast<std::int64_t>(target.crtc->y) + size.height;
  for (int i = 0; i < target.resources->ncrtc; ++i) {
    const RRCrtc id = target.resources->crtcs[i];
    if (id == target.crtcId) continue;
    XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, target.resources, id);
    if (crtc == nullptr) return false;
    if (crtc->mode != None) {
      const std::int64_t crtcRight = static_cast<std::int64_t>(crtc->x) + crtc->width;
      const std::int64_t crtcBottom = static_cast<std::int64_t>(crtc->y) + crtc->height;
      if (crtcRight > right) right = crtcRight;
      if (crtcBottom > bottom) bottom = crtcBottom;
    }
    XRRFreeCrtcInfo(crtc);
  }
  if (right > LARGEST_SIDE || bottom > LARGEST_SIDE || right <= 0 || bottom <= 0) return false;
  *box = {static_cast<std::int32_t>(right), static_cast<std::int32_t>(bottom)};
  return true;
}

// Millimetres for `pixels` at the density the screen has now along the side measuring
// `presentPixels` pixels and `presentMm` millimetres.
int millimetres(std::int32_t pixels, int presentPixels, int presentMm) noexcept {
  const double perMm = presentPixels > 0 && presentMm > 0
                           ? static_cast<double>(presentPixels) / presentMm
                           : FALLBACK_PIXELS_PER_MM;
  const long mm = std::lround(pixels / perMm);
  return mm > 0 ? static_cast<int>(mm) : 1;
}

void setScreenSize(Display* display, Extent size, Extent present, Extent presentMm) noexcept {
  XRRSetScreenSize(display, connection.root, size.width, size.height,
                   millimetres(size.width, present.width, presentMm.width),
                   millimetres(size.height, present.height, presentMm.height));
}

}  // namespace

std::int32_t primaryDisplayWidth() noexcept {
  return presentSize().width;
}

std::int32_t primaryDisplayHeight() noexcept {
  return presentSize().height;
}

// Switches the target output's CRTC to a mode of the asked size and fits the screen around
// every active CRTC afterwards. The server is grabbed so that no other client sees the
// screen between the steps: the screen grows (when it must) before the CRTC changes, so the
// old and the new picture both fit at every moment, and shrinks after. A refused change puts
// the screen's size back. X cannot change the colour depth of a running screen, so
// `bitsPerPixel` is not used.
void changeDisplayMode(std::int32_t width, std::int32_t height,
                       std::int32_t /*bitsPerPixel*/) noexcept {
  if (width <= 0 || height <= 0 || width > LARGEST_SIDE || height > LARGEST_SIDE) return;
  PipeSignalBlock pipeBlock;
  Display* display = liveDisplay();
  if (display == nullptr || !connection.randr) return;
  // Let every notification of changes made so far arrive, so that Xlib's screen size and
  // millimetres are the present ones.
  XSync(display, False);
  takeEvents();

  Target target;
  if (connectionLost || !findTarget(display, &target)) {
    if (connectionLost) closeConnection();
    return;
  }
  const XRRCrtcInfo& crtc = *target.crtc;
  if (static_cast<std::int64_t>(crtc.width) == width &&
      static_cast<std::int64_t>(crtc.height) == height) {
    return;
  }
  const RRMode mode =
      sideways(crtc)
          ? chooseMode(target, static_cast<unsigned>(height), static_cast<unsigned>(width))
          : chooseMode(target, static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (mode == None) return;

  Extent wanted;
  int minWidth = 0;
  int minHeight = 0;
  int maxWidth = 0;
  int maxHeight = 0;
  if (!boundingSize(display, target, {width, height}, &wanted) ||
      XRRGetScreenSizeRange(display, connection.root, &minWidth, &minHeight, &maxWidth,
                            &maxHeight) == 0) {
    if (connectionLost) closeConnection();
    return;
  }
  if (wanted.width < minWidth) wanted.width = minWidth;
  if (wanted.height < minHeight) wanted.height = minHeight;
  if (wanted.width > maxWidth || wanted.height > maxHeight) return;

  const int screen = DefaultScreen(display);
  const Extent present = screenSize(display);
  const Extent presentMm{DisplayWidthMM(display, screen), DisplayHeightMM(display, screen)};
  const Extent grown{wanted.width > present.width ? wanted.width : present.width,
                     wanted.height > present.height ? wanted.height : present.height};

  XGrabServer(display);
  lastErrorCode = Success;
  if (grown.width != present.width || grown.height != present.height) {
    setScreenSize(display, grown, present, presentMm);
  }
  const Status status =
      XRRSetCrtcConfig(display, target.resources, target.crtcId, CurrentTime, crtc.x, crtc.y, mode,
                       crtc.rotation, crtc.outputs, crtc.noutput);
  XSync(display, False);
  const bool switched = status == RRSetConfigSuccess && lastErrorCode == Success;
  const Extent after = switched ? wanted : present;
  if (after.width != grown.width || after.height != grown.height) {
    setScreenSize(display, after, present, presentMm);
  }
  XUngrabServer(display);
  XSync(display, False);
  connection.sizeKnown = false;
  if (connectionLost) closeConnection();
}

}  // namespace platform
