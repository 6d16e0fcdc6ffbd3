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
#include <string>
#include <utility>
#include <vector>

#include "platform/tools.h"

namespace ctl {

// The exit statuses of reskeeperctl, also the status of each finding and of set's outcome. A
// lower status is the more fundamental problem: status exits with the lowest it found.
enum Exit : int {
  EXIT_OK = 0,
  EXIT_FAILED = 1,          // the operation failed for another reason
  EXIT_USAGE = 2,           // bad input; nothing changed
  EXIT_NO_FILE = 3,         // no Data/Pref.txt in the folder
  EXIT_UNREADABLE = 4,      // the file cannot be read, or stayed busy past the bounded wait
  EXIT_UNWRITABLE = 5,      // this user cannot write the file
  EXIT_USERNAME_UNSET = 6,  // USERNAME unset: the keeper keeps the size under 255 spaces
  EXIT_USERNAME_EMPTY = 7,  // USERNAME empty: the keeper never reads a kept size back
  EXIT_NOT_A_MODE = 8,      // the record is not a mode of this display / set refused a size
  EXIT_NO_KEEPER = 9,       // no keeper runs in this session
  EXIT_NO_DISPLAY = 10,     // the display cannot be reached or its size cannot be told
  EXIT_DID_NOT_STAY = 11,   // set: stored, but the keeper wrote over it every time
  EXIT_RETURNED = 12,       // set: the new size was not kept; the one before came back
};

// Each exit status with its meaning in a few words, in order, for help texts and checks.
struct ExitMeaning {
  Exit status;
  const char* words;
};
extern const ExitMeaning EXIT_MEANINGS[];
extern const std::size_t EXIT_MEANING_COUNT;

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

struct UserName {
  std::string name;  // exactly as the keeper reads it
  UserNameState state = UserNameState::Set;
};

// The current user's name as the keeper reads it from USERNAME.
UserName currentUser();

// Whether the keeper can keep a size for `name` (not empty; no ']', CR or LF).
bool canKeepSizeFor(const std::string& name);

// A user name as people should see it: printable ASCII as is, other bytes as \xHH, and a name
// of blanks only as "(N spaces)".
std::string displayName(const std::string& name);

// ---- The file and the keeper's records ----

enum class Encoding { Unknown, Ansi, Utf8 };

struct FileState {
  bool exists = false;
  bool readable = false;  // read whole (within the bounded wait)
  bool writable = false;  // this user may open it for writing (a busy file counts as writable)
  bool busy = false;      // another program held it for longer than the bounded wait
  Encoding encoding = Encoding::Unknown;
};

struct Record {
  std::string user;
  Size size;
};

// The keeper's table as a freshly started keeper would load it from the folder's file, in its
// order. EXIT_OK, or EXIT_NO_FILE / EXIT_UNREADABLE (records then empty).
int loadRecords(const Folder& folder, std::vector<Record>& records);

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
  int status;        // one of Exit, never EXIT_OK
  std::string text;  // one plain line: what is wrong, what the keeper will do, what to do
};

struct Status {
  Folder folder;
  std::string file;  // preferenceFilePath(folder)
  FileState fileState;
  UserName user;
  bool hasRecord = false;  // the keeper would load a record for user.name
  Size record;
  bool screenKnown = false;
  Size screen;
  bool modesKnown = false;
  bool recordIsMode = false;  // meaningful when hasRecord && modesKnown
  bool keeperRunning = false;
  std::vector<Finding> findings;  // in order of status
  // Lines worth knowing that are no problem of this session's (no exit status of their own).
  std::vector<std::string> notes;

  // The lowest status among the findings; EXIT_OK when there are none.
  int exitStatus() const;
};

// Everything status reports, for the current user, about `folder`. Changes nothing.
Status readStatus(const Folder& folder);

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
  SetOutcome(int status, std::string message, Size previous = {}, bool switched = false)
      : status(status), message(std::move(message)), previous(previous), switched(switched) {}

  int status = EXIT_FAILED;  // one of Exit
  std::string message;       // one plain line saying what happened
  // With EXIT_OK: the size to return to (the user's kept size before, or the size the screen
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
// form; changes nothing on bad input (EXIT_USAGE), for the empty name (EXIT_USERNAME_EMPTY), or
// for a size the display does not list without `force` (EXIT_NOT_A_MODE). Blocks for at most some
// seconds.
SetOutcome setResolution(const Folder& folder, const SetRequest& request,
                         const Progress& progress = {});

// How long a new size waits to be kept before it returns, by default and at most, in seconds.
inline constexpr int CONFIRM_SECONDS = 15;
inline constexpr int MAX_CONFIRM_SECONDS = 300;

// Takes back the size `set` stored for `request`'s user: stores `set.previous` again and waits
// for the keeper to switch the screen back. EXIT_RETURNED when the previous size is kept again
// (and, with a running keeper, shown), or what storing it gave.
SetOutcome returnToPrevious(const Folder& folder, const SetRequest& request, const SetOutcome& set,
                            const Progress& progress = {});

}  // namespace ctl
