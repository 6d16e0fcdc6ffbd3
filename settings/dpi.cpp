// Per-monitor DPI changes for the first per-monitor awareness. The calls that tell the DPI and
// the awareness came with Windows 10, so they are looked up and the older ways taken without.
#include "settings/dpi.h"

namespace settings {
namespace {

using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
using GetContextCall = HANDLE(WINAPI*)();
using ContextsEqualCall = BOOL(WINAPI*)(HANDLE, HANDLE);

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, which the Windows 7 headers do not declare.
const HANDLE PER_MONITOR_V2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));

template <typename Call>
Call user32Call(const char* name) {
  return reinterpret_cast<Call>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

bool perMonitorV2() {
  const auto context = user32Call<GetContextCall>("GetThreadDpiAwarenessContext");
  const auto equal = user32Call<ContextsEqualCall>("AreDpiAwarenessContextsEqual");
  return context && equal && equal(context(), PER_MONITOR_V2);
}

}  // namespace

void startDpi(HWND dialog, DpiState& state) {
  if (const auto forWindow = user32Call<GetDpiForWindowCall>("GetDpiForWindow")) {
    state.dpi = forWindow(dialog);
  } else if (HDC dc = ::GetDC(dialog)) {
    state.dpi = static_cast<UINT>(::GetDeviceCaps(dc, LOGPIXELSY));
    ::ReleaseDC(dialog, dc);
  }
}

// Scales every control's place, size and font by new DPI / old DPI, then takes the size and
// place Windows suggests for the dialog.
bool changeDpi(HWND dialog, DpiState& state, UINT dpi, const RECT& suggested) {
  if (perMonitorV2() || dpi == 0 || dpi == state.dpi) {
    state.dpi = dpi ? dpi : state.dpi;
    return false;
  }
  const UINT old = state.dpi;
  ::SetWindowPos(dialog, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  HWND first = ::GetWindow(dialog, GW_CHILD);
  HFONT font = nullptr;
  LOGFONTW shape{};
  HFONT current =
      first ? reinterpret_cast<HFONT>(::SendMessageW(first, WM_GETFONT, 0, 0)) : nullptr;
  if (current && ::GetObjectW(current, sizeof shape, &shape)) {
    shape.lfHeight = ::MulDiv(shape.lfHeight, static_cast<int>(dpi), static_cast<int>(old));
    font = ::CreateFontIndirectW(&shape);
  }
  for (HWND child = first; child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    RECT box;
    ::GetWindowRect(child, &box);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
    const auto scale = [&](LONG value) {
      return ::MulDiv(value, static_cast<int>(dpi), static_cast<int>(old));
    };
    ::SetWindowPos(child, nullptr, scale(box.left), scale(box.top), scale(box.right - box.left),
                   scale(box.bottom - box.top), SWP_NOZORDER | SWP_NOACTIVATE);
    if (font) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), /*redraw=*/TRUE);
  }
  if (font) {
    if (state.font) ::DeleteObject(state.font);
    state.font = font;
  }
  state.dpi = dpi;
  return true;
}

void endDpi(DpiState& state) {
  if (state.font) ::DeleteObject(state.font);
  state.font = nullptr;
}

}  // namespace settings
