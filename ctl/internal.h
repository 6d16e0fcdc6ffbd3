// Pieces the library's source files share: entering the chosen folder and reading its file as
// the keeper does, waiting a bounded time while another program holds it.
#pragma once

#include <string>
#include <vector>

#include "ctl/ctl.h"

namespace ctl {

// How long a file held by another program is waited for, in steps of WAIT_STEP_MS.
inline constexpr unsigned WAIT_STEP_MS = 50;
inline constexpr unsigned WAIT_STEPS = 100;  // 5 s

// Makes `folder` the current folder; false when it cannot be entered.
bool enterFolder(const Folder& folder);

// The keeper's records and the file's encoding, read with the keeper's own load step from the
// current folder's Data/Pref.txt. EXIT_OK, EXIT_NO_FILE or EXIT_UNREADABLE; `busy` tells that the
// file stayed held by another program past the bounded wait.
int loadHere(std::vector<Record>& records, Encoding& encoding, bool& busy);

// Whether this user may open the current folder's file for writing; the wait is bounded as
// above. EXIT_OK, EXIT_NO_FILE, EXIT_UNWRITABLE, or EXIT_UNREADABLE when it stayed busy.
int probeWritableHere();

// The first record named exactly `name`, as the keeper's findUser takes it, or nullptr.
const Record* findRecord(const std::vector<Record>& records, const std::string& name);

}  // namespace ctl
