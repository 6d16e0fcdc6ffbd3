// The primary display on Windows: its size from the system metrics, mode changes through
// ChangeDisplaySettingsA. The program is per-monitor DPI aware (see reskeeper.manifest), so
// both speak in physical pixels.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/platform.h"

namespace platform {

std::int32_t primaryDisplayWidth() noexcept { return ::GetSystemMetrics(SM_CXSCREEN); }

std::int32_t primaryDisplayHeight() noexcept { return ::GetSystemMetrics(SM_CYSCREEN); }

// Starts from the display's first listed mode, of which only depth and size are replaced;
// dmFields stays as that mode gave it. The enumeration's result is not looked at. That mode's
// refresh rate, display flags and fixed-output setting go with the request, and a size the
// display lists only with others is refused as a bad mode; the size is then asked for once
// more with depth and size alone, for Windows to choose the rest. Any other outcome, success
// among them, is left as it is.
void changeDisplayMode(std::int32_t width, std::int32_t height,
                       std::int32_t bitsPerPixel) noexcept {
  DEVMODEA mode{};
  mode.dmSize = sizeof(DEVMODEA);
  ::EnumDisplaySettingsA(nullptr, 0, &mode);
  mode.dmBitsPerPel = static_cast<DWORD>(bitsPerPixel);
  mode.dmPelsWidth = static_cast<DWORD>(width);
  mode.dmPelsHeight = static_cast<DWORD>(height);
  if (::ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) != DISP_CHANGE_BADMODE) return;
  DEVMODEA plain{};
  plain.dmSize = sizeof(DEVMODEA);
  plain.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
  plain.dmBitsPerPel = static_cast<DWORD>(bitsPerPixel);
  plain.dmPelsWidth = static_cast<DWORD>(width);
  plain.dmPelsHeight = static_cast<DWORD>(height);
  ::ChangeDisplaySettingsA(&plain, CDS_FULLSCREEN);
}

}  // namespace platform
