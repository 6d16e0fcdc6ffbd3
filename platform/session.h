// The OS calls of the Windows session starter (reskeeper-session.exe), which the package's logon
// task and all-users Startup shortcut run as each user logs on: the user's own working folder
// and its preference file, the shared folder the package made and whether it can be relied on,
// and starting the keeper once. Windows only; the keeper never calls them.
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

// The folder `name` in %ProgramData%, through %ProgramData%'s final path (its administrator may
// have moved it elsewhere). False when it cannot be told.
bool programDataFolder(const char* name, SessionFolder* folder) noexcept;

// The shared layout's folder, as the package recorded it (HKLM\Software\reskeeper, value
// DataFolder, which this 64-bit program reads in the 64-bit view). False when there is none.
bool installedSharedFolder(SessionFolder* folder) noexcept;

// What others than the trusted accounts may do to a file that is relied on.
enum class OthersMay {
  Read,           // read it at most: the record new users start from
  WriteItsBytes,  // write its bytes too: the shared layout's file, which every user's keeper writes
};

// Whether no other user could have placed or changed `folder`, a folder on the way from it to
// the file `relative` below it, or that file: each is a real folder or file (no link or
// junction, none on the way either, a file with no other name) owned by SYSTEM, Administrators,
// TrustedInstaller or this user, whose rights let no one else add to a folder, remove or
// rename what it holds, change a file beyond what `others` allows, or change rights or owner.
// False also when one is missing.
bool trustedFile(const SessionFolder& folder, const char* relative, OthersMay others) noexcept;

// Starts the program `name` that lies beside this one, working in `folder`, with this
// process's environment and no window of its own to show, unless a keeper runs in the session
// already. One starter at a time: the logon task and the Startup shortcut may run together,
// and the second to come waits until the first one's keeper has taken its place, and starts
// nothing. False when the program could not be started.
bool startKeeperOnce(const char* name, const SessionFolder& folder) noexcept;

}  // namespace platform
