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
// dmFields stays as that mode gave it. Neither call's result is looked at.
void changeDisplayMode(std::int32_t width, std::int32_t height,
                       std::int32_t bitsPerPixel) noexcept {
  DEVMODEA mode{};
  mode.dmSize = sizeof(DEVMODEA);
  ::EnumDisplaySettingsA(nullptr, 0, &mode);
  mode.dmBitsPerPel = static_cast<DWORD>(bitsPerPixel);
  mode.dmPelsWidth = static_cast<DWORD>(width);
  mode.dmPelsHeight = static_cast<DWORD>(height);
  ::ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
}

}  // namespace platform
