// What the settings dialog says, in plain words, about what the keeper will do: built from the
// same status and outcomes as reskeeperctl's, so the two never tell different stories. Text is
// in the system's ANSI code page, like the user names it holds.
#pragma once

#include <string>

#include "ctl/ctl.h"

namespace settings {

// "1280 x 1024".
std::string sizeWords(ctl::Size size);

// The user as the keeper names them; an unset or empty USERNAME is said in words.
std::string userText(const ctl::SessionUser& user);

// The resolution the keeper keeps for the user, or why there is none.
std::string keptText(const ctl::StatusReport& status);

// The screen's present size, or that it cannot be told.
std::string screenText(const ctl::StatusReport& status);

// One line of the list of modes, with the present and the kept size marked.
std::string modeText(const ctl::Mode& mode, const ctl::StatusReport& status);

// Every problem found, one paragraph each, or that nothing is wrong.
std::string findingsText(const ctl::StatusReport& status);

// What came of storing `size`: that it is kept, or why not; `status` is what was read after it.
std::string outcomeText(const ctl::SetOutcome& outcome, ctl::Size size,
                        const ctl::StatusReport& status);

// "Returning to 1920 x 1080 in 15 seconds".
std::string countdownWords(ctl::Size previous, int seconds);

// What came of taking back `size`: the size before on screen again, or why not.
std::string returnedText(const ctl::SetOutcome& returned, ctl::Size size, ctl::Size previous,
                         bool answered);

}  // namespace settings
