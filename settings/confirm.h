// The question after a new resolution has come on screen, "Keep this resolution?", asked on top
// of every window in the middle of the primary display, which may be the only place a person
// can see after a switch; without an answer the resolution returns.
#pragma once

#include <functional>

#include "ctl/ctl.h"
#include "settings/win.h"

namespace settings {

enum class KeepAnswer { Keep, Return, NoAnswer };

// Asks whether to keep the new resolution, counting `seconds` down to a return to `previous`.
// Return is the default: Enter, Esc and closing the question return, the end of the countdown
// is no answer; Keep (Alt+K) keeps. When the session ends meanwhile, `sessionEnds` runs before
// the question goes (the process may not outlive it), and there is no answer.
KeepAnswer askToKeep(HWND owner, ctl::Size previous, int seconds,
                     const std::function<void()>& sessionEnds);

}  // namespace settings
