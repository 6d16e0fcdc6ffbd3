// The settings dialog: shows what the keeper keeps for the current user and lets them keep
// another of the display's modes.
#pragma once

#include "ctl/ctl.h"
#include "settings/win.h"

namespace settings {

// Shows the dialog for `folder`'s preference file until the user closes it.
void runDialog(HINSTANCE instance, const ctl::Folder& folder);

}  // namespace settings
