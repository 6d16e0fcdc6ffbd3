// <windows.h> for the dialog's sources (the lean subset, without the min and max macros), and the
// headers that need it first: the common controls and the shell's command-line parsing.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// These two need <windows.h> before them.
#include <commctrl.h>
#include <shellapi.h>
