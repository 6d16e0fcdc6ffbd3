// What a program asks for when it opens the preference file to rewrite it, on Windows: the
// store's own opening and the tools' probe of it ask for exactly this, so that they meet the
// file's rights alike.
#pragma once

#include <windows.h>

namespace platform {

// Reading, and writing the bytes: the rewrite in place moves to the start, writes and cuts
// the file there, and SetEndOfFile needs FILE_WRITE_DATA alone. Nothing more is asked for (no
// FILE_APPEND_DATA, FILE_WRITE_ATTRIBUTES or FILE_WRITE_EA, which GENERIC_WRITE would bring),
// so that users need no right on the shared file beyond reading it and writing its bytes.
inline constexpr DWORD PREFERENCE_WRITE_ACCESS = GENERIC_READ | FILE_WRITE_DATA;

}  // namespace platform
