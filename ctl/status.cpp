// What the keeper makes of the folder's file and of this session: the status report with its
// findings, each a plain line with what the keeper will do and what to do.
#include <algorithm>

#include "ctl/ctl.h"
#include "ctl/internal.h"
#include "keeper/keeper.h"
#include "platform/platform.h"
#include "platform/tools.h"
#include "product_facts.h"

namespace ctl {
namespace {

// Running as an administrator, the file is opened only by its own path: one another user could
// have linked elsewhere reads as one this user may not open.
std::string elevatedHint() {
  return platform::runningElevated()
             ? " (running as an administrator, reskeeperctl opens it only by its own path: "
               "not through a link or junction, not one with another name)"
             : "";
}

// Why there is no file, by where it was looked for.
std::string missingFileText(const Status& s) {
  if (s.folder.source == FolderSource::NotChosen) {
    return "no preference file is chosen: running as an administrator, reskeeperctl takes "
           "none from the current folder, where another user may have placed one; name the "
           "folder with --folder";
  }
  const std::string start = "there is no " + s.file + ": the keeper reads and stores nothing ";
  if (s.folder.source == FolderSource::UserDefault) {
#ifdef _WIN32
    return start +
           "until it exists; at each logon " RESKEEPER_SESSION_PROGRAM
           " makes it and starts the keeper, "
           "and starts nothing when it cannot (APPDATA unset, or a folder this user may not "
           "write); sign out and in again, or create it (an empty file will do)";
#else
    return start +
           "until it exists; at each login the desktop's autostart entry makes it and starts "
           "the keeper; log in again, or create it (an empty file will do)";
#endif
  }
  if (s.folder.source == FolderSource::Fallback && s.folder.layout == Layout::PerUser) {
    return start + "here, and this user's own folder is unknown (" +
#ifdef _WIN32
           "APPDATA" +
#else
           "HOME" +
#endif
           " is unset or not absolute), so no keeper of the per-user layout can start; name the "
           "folder with --folder";
  }
  return start +
         "until it exists; create it (an empty file will do) or name the folder with "
         "--folder";
}

}  // namespace

Status readStatus(const Folder& folder) {
  Status s;
  s.folder = folder;
  s.file = preferenceFilePath(folder);
  s.user = currentUser();
  const auto find = [&](int status, std::string text) { s.findings.push_back({status, text}); };

  std::vector<Record> records;
  const int read = loadWaiting(s.file, records, s.fileState.encoding, s.fileState.busy);
  s.fileState.exists = read != EXIT_NO_FILE;
  s.fileState.readable = read == EXIT_OK;
  if (read == EXIT_NO_FILE) {
    find(EXIT_NO_FILE, missingFileText(s));
  } else if (s.fileState.busy) {
    find(EXIT_UNREADABLE, "another program held " + s.file +
                              " for over 5 s: while it does, the keeper can neither read nor "
                              "store sizes; close that program");
  } else if (read != EXIT_OK) {
    find(EXIT_UNREADABLE, "this user cannot read " + s.file + elevatedHint() +
                              ": the keeper keeps nothing from it; give this user read and "
                              "write access to it");
  }
  if (s.fileState.exists && !s.fileState.busy) {
    const int write = probeWritable(s.file);
    s.fileState.writable = write == EXIT_OK || write == EXIT_UNREADABLE;
    if (write == EXIT_UNWRITABLE) {
      find(EXIT_UNWRITABLE,
           "this user cannot write " + s.file + elevatedHint() +
               ": the keeper applies what the file holds but records no new size; give this "
               "user write access to its bytes" +
               (s.folder.layout == Layout::Shared ? " (installing again does)" : ""));
    }
  }

  if (s.user.state == UserNameState::Unset) {
    find(EXIT_USERNAME_UNSET,
         "USERNAME is not set: the keeper keeps this session's size under a "
         "name of 255 spaces, shared with every session lacking it; set "
         "USERNAME to the user's name");
  } else if (s.user.state == UserNameState::Empty) {
    find(EXIT_USERNAME_EMPTY,
         "USERNAME is empty: the keeper stores the size before the first "
         "group, where it never reads it back, so no size is kept; set "
         "USERNAME to the user's name");
  }
  if (folder.source != FolderSource::Option && folder.source != FolderSource::CurrentFolder &&
      platform::runningElevated() && platform::regularFileExists(keeper::PREFERENCE_FILE)) {
    s.notes.push_back(
        "running as an administrator, reskeeperctl does not take the current folder's " +
        std::string(keeper::PREFERENCE_FILE) +
        ", which another user may have placed there; "
        "name the folder with --folder to use it");
  }
  if (s.user.state == UserNameState::Set && !platform::userNameFitsCodePage()) {
    s.notes.push_back(
        "USERNAME holds characters outside the system's ANSI code page, so the keeper reads "
        "it as " +
        displayName(s.user.name) +
        ", which other such names can read as too: in "
        "one shared file they would share one record");
  }
  if (const Record* record = findRecord(records, s.user.name)) {
    s.hasRecord = true;
    s.record = record->size;
  }

  s.screen = screenSize();
  s.screenKnown = s.screen != Size{};
  std::vector<Mode> modes;
  s.modesKnown = listModes(modes);
  if (!s.screenKnown || !s.modesKnown) {
    find(EXIT_NO_DISPLAY,
         "the display cannot be reached or cannot tell its size: the keeper "
         "can neither see nor switch it; check that this session has a display");
  } else if (s.hasRecord) {
    s.recordIsMode =
        std::any_of(modes.begin(), modes.end(), [&](const Mode& m) { return m.size == s.record; });
    if (!s.recordIsMode) {
      find(EXIT_NOT_A_MODE, "the kept size " + sizeText(s.record) +
                                " is not a mode of this display: the keeper asks for it twice a "
                                "second and nothing changes; choose one with `reskeeperctl set` "
                                "(`reskeeperctl modes` lists them)");
    }
  }

  s.keeperRunning = platform::keeperRunning();
  if (!s.keeperRunning) {
    find(EXIT_NO_KEEPER,
         "no keeper runs in this session: nothing keeps the size; start "
         "reskeeper (installed, it starts at every logon)");
  }
  std::stable_sort(s.findings.begin(), s.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.status < b.status; });
  return s;
}

}  // namespace ctl
