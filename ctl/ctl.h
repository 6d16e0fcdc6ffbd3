// What reskeeperctl and reskeeper Settings share: which preference file is meant, what the keeper
// will make of it for a user (status), the users it would load (list), the display's modes, and
// storing a user's size so that the keeper keeps it (set). What the file means comes from the
// keeper's own operations (keeper/profiles.h), so the tools never disagree with the keeper; they
// ask and present.
//
// Text: user names are bytes in the system's ANSI code page (on Windows, CP_ACP), exactly as the
// keeper holds them; messages are plain ASCII. Every call takes the folder or file it works on:
// none changes the process's current folder or touches the keeper's own table. The calls that
// read or write the file go through the store's one document, so one thread at a time makes
// them (reskeeper Settings makes them on its worker, one round at a time).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "keeper/profiles.h"
#include "platform/tools.h"

namespace ctl {

// ---- What the tools find ----
// Each result is a kind of its own; reskeeperctl maps each to its exit status in one table
// (ctl/exits.cpp), and reskeeper Settings to its words (settings/words.cpp), so that a kind
// without a status or words does not compile.

// What the preference file came to when the tools read or probed it.
enum class FileAccess {
  Fine,        // read whole; or, probed for writing, this user may write it
  Missing,     // no such file (or not a regular file)
  Unreadable,  // it cannot be read: this user may not, or it cannot be read whole
  Held,        // another program held it for longer than the bounded wait
  Unwritable,  // this user may not write it
};

// Each problem status can find, from the most fundamental on: a report lists them in this order.
enum class Problem {
  NoFile,         // no Data/Pref.txt in the folder
  Unreadable,     // the file cannot be read
  Held,           // another program held the file for longer than the bounded wait
  Unwritable,     // this user cannot write the file
  UserNameUnset,  // the keeper keeps the size under 255 spaces
  UserNameEmpty,  // the keeper never reads a kept size back
  NotAMode,       // the kept size is not a mode of this display
  NoKeeper,       // no keeper runs in this session
  NoDisplay,      // the display cannot be reached or its size cannot be told
};

// What became of storing a size (or of taking it back).
enum class SetResult {
  Kept,           // stored, and with a running keeper kept by it
  Refused,        // a size or name the keeper cannot keep; nothing changed
  EmptyUserName,  // the keeper never reads a size back for the empty name; nothing changed
  NoDisplay,      // the display's modes could not be had to check the size; nothing changed
  NotAMode,       // a size the display does not list; nothing changed
  NoFile,         // no file to store it in
  Unreadable,     // the file could not be read back
  Held,           // another program held the file for longer than the bounded wait
  Unwritable,     // this user may not write the file
  Failed,         // the write did not land, or another failure
  DidNotStay,     // stored, but the keeper wrote another size over it every time
  Returned,       // taken back: the size before is kept again
};

// ---- Which file ----

// Where the install put each user's file, as the platform tells it.
using Layout = platform::Layout;

enum class FolderSource {
  Option,         // given by the caller (--folder)
  CurrentFolder,  // the current folder holds Data/Pref.txt
  Installed,      // the shared layout: the folder the installer recorded
  UserDefault,    // the per-user layout: this user's own folder
  Fallback,       // none of those: the current folder, although it holds no Data/Pref.txt
  NotChosen,      // none of those, running elevated: no folder (path empty, so no file)
};

struct Folder {
  std::string path;  // the keeper's working folder, the one holding Data/Pref.txt
  FolderSource source = FolderSource::Fallback;
  Layout layout = Layout::NotInstalled;  // the layout installed, whichever folder was taken
};

// What the folder is chosen from; every field as the system tells it.
struct FolderFacts {
  std::string option;   // --folder, or empty
  std::string current;  // the current folder, or empty when it cannot be told
  bool currentHasFile = false;
  Layout layout = Layout::NotInstalled;
  std::string sharedFolder;  // the installed shared folder, or empty
  std::string userFolder;    // this user's own folder, or empty (its variable unset)
  bool elevated = false;     // this process runs with administrators' rights
};

// The folder meant by `facts`: the option when given (made absolute against the current
// folder), else the current folder when it holds Data/Pref.txt, else this user's own folder in
// the per-user layout or the shared folder in the shared layout, else the current folder. A
// process running elevated takes the current folder only when the option names it: another
// user may have placed its Data/Pref.txt there (NotChosen where nothing else is known).
Folder chooseFolderFrom(const FolderFacts& facts);

// The same, with the facts of this process and system. Changes nothing.
Folder chooseFolder(const std::string& option);

// Called first by the programs for people: running elevated, they open the file only by its
// own path, never through a link another user could have placed (platform::openOnlyByOwnPath).
void openSafelyWhenElevated();

// One plain line saying how the folder was chosen, e.g. "the installed shared folder
// (HKLM\Software\reskeeper, DataFolder)".
std::string describeSource(FolderSource source);

// Where a user's own folder is, as people read it: "%APPDATA%\reskeeper" on Windows,
// "$HOME/.local/share/reskeeper" on Linux.
std::string userFolderHint();

// The layout as people read it: "per-user", "shared", "none".
std::string layoutName(Layout layout);

// The preference file's path in `folder`, as the tools name it to people and open it.
std::string preferenceFilePath(const Folder& folder);

// ---- Sizes and names ----

struct Size {
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool operator==(const Size&) const = default;
};

// The largest width or height a size may have (what an X screen can be).
inline constexpr std::int32_t MAX_DIMENSION = 32767;

// Reads "WIDTHxHEIGHT" (also 'X'), each a positive decimal no larger than MAX_DIMENSION.
// False with a one-line reason in `error` otherwise.
bool parseSize(const std::string& text, Size& size, std::string& error);

// "1920x1080", as the command line writes sizes.
std::string sizeText(Size size);

enum class UserNameState {
  Set,    // USERNAME holds a name the keeper uses as it is
  Unset,  // not set (or too long): the keeper's name is 255 spaces
  Empty,  // set and empty: the keeper's name is the empty string
};

// The session's user, as the keeper names them.
struct SessionUser {
  std::string name;  // exactly as the keeper reads it
  UserNameState state = UserNameState::Set;
};

// The current user's name as the keeper reads it from USERNAME.
SessionUser currentUser();

// Whether the keeper can keep a size for `name` (not empty; no ']', CR or LF).
bool canKeepSizeFor(const std::string& name);

// A user name as people should see it: printable ASCII as is, other bytes as \xHH, and a name
// of blanks only as "(N spaces)".
std::string displayName(const std::string& name);

// ---- The file and the keeper's records ----

struct FileState {
  bool exists = false;
  bool readable = false;  // read whole (within the bounded wait)
  bool writable = false;  // this user may open it for writing (a busy file counts as writable)
  bool busy = false;      // another program held it for longer than the bounded wait
  std::optional<keeper::FileEncoding> encoding;  // known once it was read
};

struct Record {
  std::string user;
  Size size;
};

// The keeper's table as a freshly started keeper would load it from the folder's file, in its
// order (empty unless Fine).
FileAccess loadRecords(const Folder& folder, std::vector<Record>& records);

// ---- The display ----

struct Mode {
  Size size;
  std::vector<std::int32_t> refreshRates;  // Hz, rounded; highest first; may be empty
  bool present = false;                    // the size the screen shows now
};

// The primary display's modes, one per size, largest first. False when the display cannot be
// reached (modes then empty).
bool listModes(std::vector<Mode>& modes);

// The size the primary display shows now; {0, 0} when it cannot be told.
Size screenSize();

// ---- Status ----

struct Finding {
  Problem problem;
  std::string text;  // one plain line: what is wrong, what the keeper will do, what to do
};

struct StatusReport {
  Folder folder;
  std::string file;  // preferenceFilePath(folder)
  FileState fileState;
  SessionUser user;
  bool hasRecord = false;  // the keeper would load a record for user.name
  Size record;
  bool screenKnown = false;
  Size screen;
  bool modesKnown = false;
  bool recordIsMode = false;  // meaningful when hasRecord && modesKnown
  bool keeperRunning = false;
  std::vector<Finding> findings;  // in the order of Problem
  // Lines worth knowing that are no problem of this session's (no exit status of their own).
  std::vector<std::string> notes;
};

// Everything status reports, for the current user, about `folder`. Changes nothing.
StatusReport readStatus(const Folder& folder);

// ---- Set ----

struct SetRequest {
  std::string user;        // as the keeper names users (ANSI bytes)
  bool userGiven = false;  // false: the current user (user is then ignored)
  Size size;
  bool force = false;  // store a size the display does not list
  // Wait for a running keeper's passes to confirm the size; without, return once it is stored
  // (for a session that is ending).
  bool waitForKeeper = true;
};

struct SetOutcome {
  SetOutcome() = default;
  SetOutcome(SetResult result, std::string message, Size previous = {}, bool switched = false)
      : result(result), message(std::move(message)), previous(previous), switched(switched) {}

  SetResult result = SetResult::Failed;
  std::string message;  // one plain line saying what happened
  // When Kept: the size to return to (the user's kept size before, or the size the screen
  // showed when there was none), and whether the keeper switched the screen from another size
  // to the new one, after which the person is asked to keep it.
  Size previous;
  bool switched = false;
};

// Called with a plain line at each stage that takes time (waiting for the file, waiting for the
// keeper's passes); may be empty.
using Progress = std::function<void(const std::string&)>;

// Stores `request.size` for the user in every group the keeper would read or write for them, and
// with a running keeper confirms over its next passes that the size stays in the user's record,
// writing again a bounded number of times. Never changes another line beyond the file's normal
// form; changes nothing on bad input (Refused), for the empty name (EmptyUserName), or for a
// size the display does not list without `force` (NotAMode). Blocks for at most some seconds.
SetOutcome setResolution(const Folder& folder, const SetRequest& request,
                         const Progress& progress = {});

// How long a new size waits to be kept before it returns, by default and at most, in seconds.
inline constexpr int CONFIRM_SECONDS = 15;
inline constexpr int MAX_CONFIRM_SECONDS = 300;

// Takes back the size `set` stored for `request`'s user: stores `set.previous` again and waits
// for the keeper to switch the screen back. Returned when the previous size is kept again (and,
// with a running keeper, shown), or what storing it gave.
SetOutcome returnToPrevious(const Folder& folder, const SetRequest& request, const SetOutcome& set,
                            const Progress& progress = {});

}  // namespace ctl
