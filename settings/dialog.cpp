// The settings dialog. The library's calls, which may wait for the file and for the keeper's
// passes, run on a worker thread one at a time; the dialog stays responsive meanwhile, and does
// not close while a resolution is being stored, so that no write is cut off halfway.
#include "settings/dialog.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <thread>
#include <vector>

#include "settings/confirm.h"
#include "settings/dpi.h"
#include "settings/resource.h"
#include "settings/words.h"

namespace settings {
namespace {

constexpr char TITLE[] = "reskeeper Settings";  // as in the dialog's template
constexpr UINT WM_APP_PROGRESS = WM_APP + 1;    // lParam: a std::string* to take over
constexpr UINT WM_APP_DONE = WM_APP + 2;        // lParam: a Result* to take over

// What a round on the worker does before it reads everything again.
enum class Round {
  Read,    // nothing more
  Keep,    // store a size
  Return,  // take a size back: store the one before again
};

// What one round on the worker found.
struct Result {
  Round round = Round::Read;
  ctl::Size size;           // Keep, Return: the size chosen
  ctl::SetOutcome outcome;  // Keep: what storing it gave; Return: what taking it back gave
  bool answered = false;    // Return: the person chose to return (else no answer came)
  ctl::Size previous;       // Return: the size returned to
  ctl::StatusReport status;
  std::vector<ctl::Mode> modes;
};

// What a round is given: copies, so that the worker shares nothing with the window.
struct Task {
  Round round = Round::Read;
  ctl::Size size;
  ctl::SetOutcome kept;  // Return: the outcome of the keep being taken back
  bool answered = false;
};

struct Dialog {
  ctl::Folder folder;
  Result shown;             // what the dialog shows now
  bool busy = false;        // a round runs on the worker
  bool asking = false;      // the question whether to keep a size is up
  bool closeAfter = false;  // closing was asked for meanwhile: close once the round is done
  bool again = false;       // the display changed during the round: look again after it
  std::thread worker;
  HWND focus = nullptr;  // the control that had the focus when the round began
  DpiState dpi;
  HICON icons[2] = {};
};

std::wstring widen(const std::string& text) {
  const int length =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

void setText(HWND dialog, int id, const std::string& text) {
  ::SetDlgItemTextW(dialog, id, widen(text).c_str());
}

void post(HWND dialog, UINT message, void* taken) {
  if (!::PostMessageW(dialog, message, 0, reinterpret_cast<LPARAM>(taken))) {
    if (message == WM_APP_DONE) {
      delete static_cast<Result*>(taken);
    } else {
      delete static_cast<std::string*>(taken);
    }
  }
}

ctl::SetRequest requestFor(ctl::Size size) {
  ctl::SetRequest request;
  request.size = size;
  return request;
}

// The worker's round: store or take back a size when asked, then read what the keeper will make
// of it all.
void runRound(HWND dialog, ctl::Folder folder, Task task) {
  auto result = std::make_unique<Result>();
  const auto progress = [dialog](const std::string& line) {
    post(dialog, WM_APP_PROGRESS, new std::string(line));
  };
  try {
    result->round = task.round;
    result->size = task.size;
    result->answered = task.answered;
    result->previous = task.kept.previous;
    if (task.round == Round::Keep) {
      result->outcome = ctl::setResolution(folder, requestFor(task.size), progress);
    } else if (task.round == Round::Return) {
      result->outcome = ctl::returnToPrevious(folder, requestFor(task.size), task.kept, progress);
    }
    result->status = ctl::readStatus(folder);
    ctl::listModes(result->modes);
  } catch (const std::exception& error) {
    result->outcome = {ctl::SetResult::Failed, error.what()};
  }
  post(dialog, WM_APP_DONE, result.release());
}

void enableActions(HWND dialog, bool enable) {
  for (int id : {IDC_MODES, IDC_KEEP, IDC_REFRESH}) {
    ::EnableWindow(::GetDlgItem(dialog, id), enable);
  }
}

void begin(HWND dialog, Dialog& d, Task task = {}) {
  d.busy = true;
  d.focus = ::GetFocus();
  enableActions(dialog, /*enable=*/false);
  // Disabling the focused control would leave the keyboard focus nowhere, and Esc unheard: Close
  // takes it meanwhile.
  ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(dialog, IDCANCEL)),
                 /*isHandle=*/TRUE);
  const bool storing = task.round != Round::Read;
  if (task.round == Round::Keep) {
    setText(dialog, IDC_OUTCOME, "Storing " + sizeWords(task.size) + "...");
  }
  if (task.round == Round::Return) {
    setText(dialog, IDC_OUTCOME, "Returning to " + sizeWords(task.kept.previous) + "...");
  }
  // The title says so too, where scripts and screen readers see it.
  ::SetWindowTextA(dialog, (std::string(TITLE) + (storing ? " - storing" : " - reading")).c_str());
  d.worker = std::thread(runRound, dialog, d.folder, task);
}

// The list index of the mode of `size`, or -1.
int indexOf(const std::vector<ctl::Mode>& modes, ctl::Size size) {
  for (std::size_t i = 0; i < modes.size(); ++i) {
    if (modes[i].size == size) return static_cast<int>(i);
  }
  return -1;
}

void show(HWND dialog, Dialog& d, std::unique_ptr<Result> result) {
  HWND list = ::GetDlgItem(dialog, IDC_MODES);
  // The size to select: the one just kept, else the one the user had chosen, else the kept
  // one, else the one on screen.
  const int before = static_cast<int>(::SendMessageW(list, LB_GETCURSEL, 0, 0));
  const bool kept = result->round == Round::Keep;
  ctl::Size wanted = kept ? result->size : ctl::Size{};
  if (result->round == Round::Return) wanted = result->previous;
  if (result->round == Round::Read && before >= 0 &&
      before < static_cast<int>(d.shown.modes.size()))
    wanted = d.shown.modes[static_cast<std::size_t>(before)].size;
  if (wanted == ctl::Size{} && result->status.hasRecord) wanted = result->status.record;
  if (indexOf(result->modes, wanted) < 0) wanted = result->status.screen;

  const ctl::StatusReport& status = result->status;
  setText(dialog, IDC_USER, userText(status.user));
  setText(dialog, IDC_KEPT, keptText(status));
  setText(dialog, IDC_PRESENT, screenText(status));
  setText(dialog, IDC_FILE, status.file);
  setText(dialog, IDC_FINDINGS, findingsText(status));
  if (kept) {
    setText(dialog, IDC_OUTCOME, outcomeText(result->outcome, result->size, status));
  } else if (result->round == Round::Return) {
    setText(dialog, IDC_OUTCOME,
            returnedText(result->outcome, result->size, result->previous, result->answered));
  } else if (result->outcome.result == ctl::SetResult::Failed && !result->outcome.message.empty()) {
    setText(dialog, IDC_OUTCOME, "Could not look: " + result->outcome.message);
  }

  ::SendMessageW(list, WM_SETREDRAW, /*redraw=*/FALSE, 0);
  ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const ctl::Mode& mode : result->modes) {
    ::SendMessageW(list, LB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(widen(modeText(mode, status)).c_str()));
  }
  if (result->modes.empty()) {
    setText(dialog, IDC_OUTCOME, "The display's resolutions cannot be listed.");
  }
  ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(indexOf(result->modes, wanted)), 0);
  ::SendMessageW(list, WM_SETREDRAW, /*redraw=*/TRUE, 0);
  ::InvalidateRect(list, nullptr, /*erase=*/TRUE);
  d.shown = std::move(*result);
}

// Moves the dialog back into its monitor's work area, where a switch to a smaller
// resolution may have left it partly or wholly outside.
void keepOnScreen(HWND dialog) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  RECT box;
  if (!::GetWindowRect(dialog, &box) ||
      !::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor))
    return;
  const RECT& work = monitor.rcWork;
  const LONG left = std::max(work.left, std::min(box.left, work.right - (box.right - box.left)));
  const LONG top = std::max(work.top, std::min(box.top, work.bottom - (box.bottom - box.top)));
  if (left != box.left || top != box.top) {
    ::SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// Asks whether to keep the size the round just switched the screen to, and takes it back unless
// the person keeps it.
void askToKeepNewSize(HWND dialog, Dialog& d) {
  const ctl::SetOutcome kept = d.shown.outcome;
  const ctl::Size size = d.shown.size;
  const ctl::Folder folder = d.folder;
  d.asking = true;
  // The session's end leaves no time for the keeper's passes: the size before is stored at once,
  // for the next session's keeper.
  const auto sessionEnds = [&] {
    ctl::SetRequest request = requestFor(size);
    request.waitForKeeper = false;
    ctl::returnToPrevious(folder, request, kept);
  };
  const KeepAnswer answer =
      d.closeAfter ? KeepAnswer::NoAnswer
                   : askToKeep(dialog, kept.previous, ctl::CONFIRM_SECONDS, sessionEnds);
  d.asking = false;
  if (answer == KeepAnswer::Keep && !d.closeAfter) {
    if (d.again) begin(dialog, d);
    d.again = false;
    return;
  }
  Task task;
  task.round = Round::Return;
  task.size = size;
  task.kept = kept;
  task.answered = answer == KeepAnswer::Return && !d.closeAfter;
  begin(dialog, d, task);
}

void finish(HWND dialog, Dialog& d, Result* done) {
  std::unique_ptr<Result> result(done);
  d.worker.join();
  d.busy = false;
  enableActions(dialog, /*enable=*/true);
  keepOnScreen(dialog);
  show(dialog, d, std::move(result));
  // The focus goes back where it was before the round.
  HWND focus = d.focus && ::IsWindowEnabled(d.focus) ? d.focus : ::GetDlgItem(dialog, IDC_MODES);
  ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), /*isHandle=*/TRUE);
  ::SetWindowTextA(dialog, TITLE);
  if (d.shown.round == Round::Keep && d.shown.outcome.result == ctl::SetResult::Kept &&
      d.shown.outcome.switched) {
    d.again = false;  // a display change during the question is looked at after it
    askToKeepNewSize(dialog, d);
    return;
  }
  if (d.closeAfter) {
    ::EndDialog(dialog, IDCANCEL);
    return;
  }
  // A round that stored a size read everything after the switch it caused.
  const bool again = d.again && d.shown.round == Round::Read;
  d.again = false;
  if (again) begin(dialog, d);
}

void keepChosen(HWND dialog, Dialog& d) {
  const LRESULT chosen = ::SendDlgItemMessageW(dialog, IDC_MODES, LB_GETCURSEL, 0, 0);
  if (chosen < 0 || chosen >= static_cast<LRESULT>(d.shown.modes.size())) {
    setText(dialog, IDC_OUTCOME, "Choose a resolution in the list first.");
    return;
  }
  Task task;
  task.round = Round::Keep;
  task.size = d.shown.modes[static_cast<std::size_t>(chosen)].size;
  begin(dialog, d, task);
}

void setIcons(HWND dialog, Dialog& d) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const int sizes[2][2] = {{SM_CXSMICON, SM_CYSMICON}, {SM_CXICON, SM_CYICON}};
  for (int i = 0; i < 2; ++i) {
    d.icons[i] = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_RESKEEPER),
                                                 IMAGE_ICON, ::GetSystemMetrics(sizes[i][0]),
                                                 ::GetSystemMetrics(sizes[i][1]), 0));
    if (d.icons[i]) {
      ::SendMessageW(dialog, WM_SETICON, i ? ICON_BIG : ICON_SMALL,
                     reinterpret_cast<LPARAM>(d.icons[i]));
    }
  }
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* d = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  if (!d && message != WM_INITDIALOG) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      d = reinterpret_cast<Dialog*>(lParam);
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      startDpi(dialog, d->dpi);
      setIcons(dialog, *d);
      ::SendMessageW(dialog, DM_SETDEFID, IDC_KEEP, 0);
      begin(dialog, *d);
      return TRUE;  // the focus goes to the list, the first control that takes it
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_KEEP:
          if (!d->busy) keepChosen(dialog, *d);
          return TRUE;
        case IDC_REFRESH:
          if (!d->busy) begin(dialog, *d);
          return TRUE;
        case IDCANCEL:
          // Closing while a new size waits to be kept counts as no answer: the size before is
          // stored again before the dialog goes.
          if (d->asking) {
            d->closeAfter = true;
            if (HWND question = ::GetWindow(dialog, GW_ENABLEDPOPUP)) {
              ::PostMessageW(question, WM_COMMAND, IDCANCEL, 0);
            }
          } else if (d->busy) {
            d->closeAfter = true;
            setText(dialog, IDC_OUTCOME,
                    "Wait a moment: reskeeper Settings closes once this "
                    "is done.");
          } else {
            ::EndDialog(dialog, IDCANCEL);
          }
          return TRUE;
      }
      return FALSE;
    case WM_APP_PROGRESS: {
      std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(lParam));
      if (!line->empty()) {
        (*line)[0] = static_cast<char>(std::toupper(static_cast<unsigned char>((*line)[0])));
      }
      setText(dialog, IDC_OUTCOME, *line + "...");
      return TRUE;
    }
    case WM_APP_DONE:
      finish(dialog, *d, reinterpret_cast<Result*>(lParam));
      return TRUE;
    case WM_DISPLAYCHANGE:
      keepOnScreen(dialog);
      if (d->busy || d->asking) {
        d->again = true;
      } else {
        begin(dialog, *d);
      }
      return TRUE;
    case WM_DPICHANGED:
      return changeDpi(dialog, d->dpi, LOWORD(wParam), *reinterpret_cast<RECT*>(lParam));
    case WM_DESTROY:
      if (d->worker.joinable()) d->worker.join();
      endDpi(d->dpi);
      for (HICON icon : d->icons) {
        if (icon) ::DestroyIcon(icon);
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

void runDialog(HINSTANCE instance, const ctl::Folder& folder) {
  Dialog d;
  d.folder = folder;
  ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, dialogProc,
                    reinterpret_cast<LPARAM>(&d));
}

}  // namespace settings
