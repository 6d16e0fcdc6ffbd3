// Per-monitor DPI for the settings dialog. Under per-monitor v2 (Windows 10 1703 and later) the
// dialog manager rescales the dialog itself when it moves to a monitor of another DPI; under the
// first per-monitor awareness (Windows 8.1 to 10 1607) the dialog does it here.
#pragma once

#include "settings/win.h"

namespace settings {

struct DpiState {
  UINT dpi = USER_DEFAULT_SCREEN_DPI;
  HFONT font = nullptr;  // the rescaled font, owned; nullptr while the template's serves
};

// Records the dialog's DPI at creation.
void startDpi(HWND dialog, DpiState& state);

// Handles WM_DPICHANGED: true when done here, false when the dialog manager does it.
bool changeDpi(HWND dialog, DpiState& state, UINT dpi, const RECT& suggested);

// Gives back what startDpi and changeDpi made.
void endDpi(DpiState& state);

}  // namespace settings
