// The OS calls of the Windows session starter (reskeeper-session.exe), which the installers'
// all-users Startup shortcut runs in the per-user layout: the user's own working folder and its
// preference file, the shared file an installer made, and starting the keeper. Windows only;
// the keeper never calls them.
#pragma once

#include <cstdint>

namespace platform {

// A folder as the system spells it (UTF-16), so that a profile folder whose name the ANSI code
// page cannot spell is reached all the same.
inline constexpr std::uint32_t SESSION_PATH_CAPACITY = 1024;
struct SessionFolder {
  wchar_t path[SESSION_PATH_CAPACITY];
};

// The folder `name` in the user's roaming application data (%APPDATA%, which roaming profiles
// and folder redirection follow). False when APPDATA is unset, not a full path, or too long.
bool userWorkingFolder(const char* name, SessionFolder* folder) noexcept;

enum class MadeFile {
  Created,  // it was missing, and is now there, empty
  Existed,  // a regular file was there already, and was not opened
  Failed,   // it could not be made, or something other than a folder stands in its way
};

// Makes the file `relative` ("Data/Pref.txt") below `folder` when it is missing, as an empty
// file, and the folders it needs with it (not `folder`'s own parent). A file that exists is
// never opened.
MadeFile makeFileIfMissing(const SessionFolder& folder, const char* relative) noexcept;

// The path of `relative` below `folder` in the system's ANSI code page, as the store opens
// paths: spelled exactly, or through the folders' short names where the code page lacks a
// character of theirs. Copied with its zero byte into `buffer` when it fits in `capacity`
// bytes; gives its length, 0 when it cannot be spelled so.
std::uint32_t ansiPath(const SessionFolder& folder, const char* relative, char* buffer,
                       std::uint32_t capacity) noexcept;

// The file `relative` below the folder `name` in %ProgramData% (the shared folder an installer
// makes), in the ANSI code page as ansiPath() gives it, when nothing on the way to it could
// have been placed there or swapped by another user: the folder and every folder below it on
// the way are real folders (no link or junction, none on the way either) that belong to
// SYSTEM, Administrators or this user and let no one else add, remove or rename what they
// hold, or change their rights; the file is a regular file of one of those owners with no
// other name. 0 otherwise (also when it is missing).
std::uint32_t installersSharedFile(const char* name, const char* relative, char* buffer,
                                   std::uint32_t capacity) noexcept;

// Starts the program `name` that lies beside this one, working in `folder`, with this
// process's environment and no window of its own to show; false when it could not be started.
bool startBeside(const char* name, const SessionFolder& folder) noexcept;

}  // namespace platform
