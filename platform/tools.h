// The OS calls that only the programs for people make (reskeeperctl, reskeeper Settings): the
// current folder, probing the preference file's rights, the layout installed and its folders,
// and the display's modes. The keeper never calls them.
#pragma once

#include <cstdint>

namespace platform {

// Copies the current folder's path with its zero byte into `buffer` when it fits in `capacity`
// bytes and gives its length; 0 when it cannot be told or does not fit.
std::uint32_t currentFolder(char* buffer, std::uint32_t capacity) noexcept;

// Whether `path` names an existing regular file.
bool regularFileExists(const char* path) noexcept;

// What opening a file as the store opens it (other programs may read it, none may write it)
// comes to, for reading only or for reading and writing. The file is closed again at once.
enum class OpenProbe {
  Opened,
  Missing,  // no such file, or not a regular file
  Denied,   // this user has not the rights
  Busy,     // another program holds it (sharing violation, lock)
  Failed,   // any other reason
};
OpenProbe probeOpen(const char* path, bool forWriting) noexcept;

// Whether this process runs with administrators' rights: on Windows, the Administrators group
// is enabled in its token (started elevated, or as SYSTEM); on Linux, as root.
bool runningElevated() noexcept;

// From now on this process opens a file (the store's file calls and probeOpen alike) only when
// its path reaches it by its own name: no link or junction on the way, the file itself none,
// and no other name of the file, which someone could have linked to another. Any other is
// refused, as one this user may not open (OpenProbe::Denied). A program for people running
// elevated calls it first, so that no link another user placed can make it read or write a
// file of theirs choosing; the keeper never calls it.
void openOnlyByOwnPath() noexcept;

// A stamp of the file's last modification (its time in the system's finest unit): it changes
// at every write. False when it cannot be had.
bool fileStamp(const char* path, std::int64_t* stamp) noexcept;

// Where the install put each user's preference file.
enum class Layout {
  NotInstalled,  // nothing installed (Windows without an install, a portable copy)
  PerUser,       // each user's own folder, userDataFolder()
  Shared,        // one folder every user shares, installedDataFolder()
};

// The layout installed. Windows: HKLM\Software\reskeeper (64-bit view), value Layout ("user" or
// "shared"); an install that records only DataFolder predates the choice and is Shared;
// NotInstalled without either. Linux: PerUser, the one layout there.
Layout installedLayout() noexcept;

// The shared data folder the Windows installer recorded (HKLM\Software\reskeeper, value
// DataFolder, in the 64-bit registry view), copied with its zero byte into `buffer` when it fits
// in `capacity` bytes; gives its length, 0 when there is none (always on other systems).
std::uint32_t installedDataFolder(char* buffer, std::uint32_t capacity) noexcept;

// The folder a user's own keeper works in, in the per-user layout: %APPDATA%\reskeeper on
// Windows, $HOME/.local/share/reskeeper on Linux; copied with its zero byte into `buffer` when it
// fits in `capacity` bytes; gives its length, 0 when the variable is unset or not absolute.
std::uint32_t userDataFolder(char* buffer, std::uint32_t capacity) noexcept;

// How this system names a user's own folder, and what makes it and starts the keeper there as the
// user logs on, in words for people.
struct UserFolderWords {
  const char* folder;    // "%APPDATA%\reskeeper", "$HOME/.local/share/reskeeper"
  const char* variable;  // the variable it is found from: "APPDATA", "HOME"
  // What makes the file at each logon, and what the user does when it did not: "at each logon
  // ... makes it and starts the keeper, ...; sign out and in again".
  const char* madeAtLogon;
};
const UserFolderWords& userFolderWords() noexcept;

// Whether the user name the keeper reads from USERNAME is the user's name itself. Windows hands
// a program that reads it as ANSI text a best-fit form: a name with characters outside the
// system's ANSI code page (Cyrillic on a Western European system, say) reads as another, which
// other such names can share. Always true on Linux, where the name is bytes.
bool userNameFitsCodePage() noexcept;

// Whether standard input and standard error are both a terminal (on Windows, a console): a
// person is there to answer a question.
bool interactiveTerminal() noexcept;

// Reads the line the person types at the terminal on standard input, without its line end, into
// `buffer` of `capacity` bytes (cut to fit, ended by a zero byte). False when no whole line came
// within `milliseconds`, or the input ended.
bool readTerminalLine(char* buffer, std::uint32_t capacity, std::uint32_t milliseconds) noexcept;

// Calls `each(context, width, height, refreshHz, present)` once for every mode the primary
// display lists (refreshHz 0 when unknown; `present` for the mode it shows now), sizes as the
// screen shows them. False when the display cannot be reached.
using ModeVisitor = void (*)(void* context, std::int32_t width, std::int32_t height,
                             std::int32_t refreshHz, bool present);
bool visitDisplayModes(ModeVisitor each, void* context) noexcept;

}  // namespace platform
