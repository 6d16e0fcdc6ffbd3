// What the keeper makes of the folder's file and of this session: the status report with its
// findings, each a plain line with what the keeper will do and what to do.
#include <algorithm>

#include "ctl/ctl.h"
#include "ctl/internal.h"
#include "keeper/keeper.h"
#include "platform/platform.h"
#include "platform/tools.h"

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
std::string missingFileText(const StatusReport& s) {
  if (s.folder.source == FolderSource::NotChosen) {
    return "no preference file is chosen: running as an administrator, reskeeperctl takes "
           "none from the current folder, where another user may have placed one; name the "
           "folder with --folder";
  }
  const std::string start = "there is no " + s.file + ": the keeper reads and stores nothing ";
  const platform::UserFolderWords& own = platform::userFolderWords();
  if (s.folder.source == FolderSource::UserDefault) {
    return start + "until it exists; " + own.madeAtLogon + ", or create it (an empty file will do)";
  }
  if (s.folder.source == FolderSource::Fallback && s.folder.layout == Layout::PerUser) {
    return start + "here, and this user's own folder is unknown (" + own.variable +
           " is unset or not absolute), so no keeper of the per-user layout can start; name the "
           "folder with --folder";
  }
  return start +
         "until it exists; create it (an empty file will do) or name the folder with "
         "--folder";
}

}  // namespace

StatusReport readStatus(const Folder& folder) {
  StatusReport s;
  s.folder = folder;
  s.file = preferenceFilePath(folder);
  s.user = currentUser();
  const auto find = [&](Problem problem, std::string text) {
    s.findings.push_back({problem, text});
  };

  std::vector<Record> records;
  keeper::FileEncoding encoding = keeper::FileEncoding::Ansi;
  const FileAccess read = loadWaiting(s.file, records, encoding);
  s.fileState.exists = read != FileAccess::Missing;
  s.fileState.readable = read == FileAccess::Fine;
  s.fileState.busy = read == FileAccess::Held;
  if (read == FileAccess::Fine) s.fileState.encoding = encoding;
  if (read == FileAccess::Missing) {
    find(Problem::NoFile, missingFileText(s));
  } else if (read == FileAccess::Held) {
    find(Problem::Held, heldText(s.file) +
                            ": while it does, the keeper can neither read nor store sizes; "
                            "close that program");
  } else if (read != FileAccess::Fine) {
    find(Problem::Unreadable, "this user cannot read " + s.file + elevatedHint() +
                                  ": the keeper keeps nothing from it; give this user read and "
                                  "write access to it");
  }
  if (s.fileState.exists && !s.fileState.busy) {
    const FileAccess write = probeWritable(s.file);
    s.fileState.writable = write == FileAccess::Fine || write == FileAccess::Held;
    if (write == FileAccess::Unwritable) {
      find(Problem::Unwritable,
           "this user cannot write " + s.file + elevatedHint() +
               ": the keeper applies what the file holds but records no new size; give this "
               "user write access to its bytes" +
               (s.folder.layout == Layout::Shared ? " (installing again does)" : ""));
    }
  }

  if (s.user.state == UserNameState::Unset) {
    find(Problem::UserNameUnset,
         "USERNAME is not set: the keeper keeps this session's size under a "
         "name of 255 spaces, shared with every session lacking it; set "
         "USERNAME to the user's name");
  } else if (s.user.state == UserNameState::Empty) {
    find(Problem::UserNameEmpty,
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
    find(Problem::NoDisplay,
         "the display cannot be reached or cannot tell its size: the keeper "
         "can neither see nor switch it; check that this session has a display");
  } else if (s.hasRecord) {
    s.recordIsMode =
        std::any_of(modes.begin(), modes.end(), [&](const Mode& m) { return m.size == s.record; });
    if (!s.recordIsMode) {
      find(Problem::NotAMode, "the kept size " + sizeText(s.record) +
                                  " is not a mode of this display: the keeper asks for it twice a "
                                  "second and nothing changes; choose one with `reskeeperctl set` "
                                  "(`reskeeperctl modes` lists them)");
    }
  }

  s.keeperRunning = platform::keeperRunning();
  if (!s.keeperRunning) {
    find(Problem::NoKeeper,
         "no keeper runs in this session: nothing keeps the size; start "
         "reskeeper (installed, it starts at every logon)");
  }
  std::stable_sort(s.findings.begin(), s.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.problem < b.problem; });
  return s;
}

}  // namespace ctl
