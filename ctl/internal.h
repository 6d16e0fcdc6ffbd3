// Pieces the library's source files share: reading the preference file as the keeper does and
// probing it, waiting a bounded time while another program holds it.
#pragma once

#include <string>
#include <vector>

#include "ctl/ctl.h"

namespace ctl {

// How long a file held by another program is waited for, in steps of WAIT_STEP_MS.
inline constexpr unsigned WAIT_STEP_MS = 50;
inline constexpr unsigned WAIT_STEPS = 100;  // 5 s

// The keeper's records and the file's encoding, loaded with the keeper's own load from the file
// at `path`. EXIT_OK, EXIT_NO_FILE or EXIT_UNREADABLE; `busy` tells that the file stayed held by
// another program past the bounded wait.
int loadWaiting(const std::string& path, std::vector<Record>& records, Encoding& encoding,
                bool& busy);

// Whether this user may open the file at `path` for writing; the wait is bounded as above.
// EXIT_OK, EXIT_NO_FILE, EXIT_UNWRITABLE, or EXIT_UNREADABLE when it stayed busy.
int probeWritable(const std::string& path);

// The first record named exactly `name`, as the keeper looks users up, or nullptr.
const Record* findRecord(const std::vector<Record>& records, const std::string& name);

}  // namespace ctl
