// Pieces the library's source files share: reading the preference file as the keeper does and
// probing it, waiting a bounded time while another program holds it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ctl/ctl.h"
#include "platform/platform.h"

namespace ctl {

// How long a file held by another program is waited for, in steps of WAIT_STEP_MS.
inline constexpr unsigned WAIT_STEP_MS = 50;
inline constexpr unsigned WAIT_STEPS = 100;

// Asks `held` again, WAIT_STEP_MS apart (slept by `sleep`), while it says the file is held by
// another program, WAIT_STEPS times at most; true when the file stayed held throughout.
bool staysHeld(const std::function<bool()>& held,
               void (*sleep)(std::uint32_t milliseconds) = platform::sleepMilliseconds);

// "another program held FILE for over 5 s", the bound said in seconds.
std::string heldText(const std::string& file);

// The keeper's records and the file's encoding, loaded with the keeper's own load from the file
// at `path`, waiting while another program holds it: Fine, Missing, Unreadable or Held.
FileAccess loadWaiting(const std::string& path, std::vector<Record>& records,
                       keeper::FileEncoding& encoding);

// Whether this user may open the file at `path` for writing, waiting while another program holds
// it: Fine, Missing, Unwritable, or Held.
FileAccess probeWritable(const std::string& path);

// The first record named exactly `name`, as the keeper looks users up, or nullptr.
const Record* findRecord(const std::vector<Record>& records, const std::string& name);

}  // namespace ctl
