// The question whether to keep a new resolution, with its countdown.
#include "settings/confirm.h"

#include "settings/resource.h"
#include "settings/words.h"

namespace settings {
namespace {

constexpr UINT_PTR COUNTDOWN_TIMER = 1;

struct Question {
  ctl::Size previous;
  int left;
  const std::function<void()>* sessionEnds;
};

void showCountdown(HWND dialog, const Question& q) {
  ::SetDlgItemTextA(dialog, IDC_COUNTDOWN, countdownWords(q.previous, q.left).c_str());
}

// In the middle of the primary display, which shows the new resolution now.
void centreOnPrimary(HWND dialog) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  RECT box;
  if (!::GetWindowRect(dialog, &box) ||
      !::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor))
    return;
  const RECT& screen = monitor.rcMonitor;
  const LONG width = box.right - box.left;
  const LONG height = box.bottom - box.top;
  ::SetWindowPos(dialog, HWND_TOPMOST, screen.left + (screen.right - screen.left - width) / 2,
                 screen.top + (screen.bottom - screen.top - height) / 2, 0, 0, SWP_NOSIZE);
}

INT_PTR CALLBACK questionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* q = reinterpret_cast<Question*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      q = reinterpret_cast<Question*>(lParam);
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      showCountdown(dialog, *q);
      centreOnPrimary(dialog);
      ::SetTimer(dialog, COUNTDOWN_TIMER, 1000, nullptr);
      ::SetForegroundWindow(dialog);
      ::SetFocus(::GetDlgItem(dialog, IDC_RETURN));
      return FALSE;  // the focus is set
    case WM_TIMER:
      if (q && wParam == COUNTDOWN_TIMER && --q->left <= 0) {
        ::EndDialog(dialog, IDC_COUNTDOWN);
      } else if (q) {
        showCountdown(dialog, *q);
      }
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_KEEP_NEW:
          ::EndDialog(dialog, IDC_KEEP_NEW);
          return TRUE;
        case IDC_RETURN:
        case IDCANCEL:  // Esc, and the close button
          ::EndDialog(dialog, IDC_RETURN);
          return TRUE;
      }
      return FALSE;
    case WM_ENDSESSION:
      if (wParam && q && *q->sessionEnds) (*q->sessionEnds)();
      if (wParam) ::EndDialog(dialog, IDC_COUNTDOWN);
      return TRUE;
    case WM_DESTROY:
      ::KillTimer(dialog, COUNTDOWN_TIMER);
      return FALSE;
  }
  return FALSE;
}

}  // namespace

KeepAnswer askToKeep(HWND owner, ctl::Size previous, int seconds,
                     const std::function<void()>& sessionEnds) {
  Question q{previous, seconds, &sessionEnds};
  const INT_PTR answer =
      ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CONFIRM), owner,
                        questionProc, reinterpret_cast<LPARAM>(&q));
  if (answer == IDC_KEEP_NEW) return KeepAnswer::Keep;
  return answer == IDC_RETURN ? KeepAnswer::Return : KeepAnswer::NoAnswer;
}

}  // namespace settings
