// Storing a user's size so that the keeper applies and keeps it, whatever the file holds: the
// keeper's own store (keeper/profiles.h) puts it into every group the keeper reads or writes for
// the user; this file waits for the file, and for a running keeper's passes to confirm it.
#include <algorithm>

#include "ctl/ctl.h"
#include "ctl/internal.h"
#include "ctl/set_testing.h"
#include "keeper/keeper.h"
#include "keeper/profiles.h"
#include "platform/platform.h"
#include "platform/tools.h"

namespace ctl {
namespace {

constexpr SetCalls REAL_CALLS = {
    .listModes = listModes,
    .screenSize = screenSize,
    .regularFileExists = platform::regularFileExists,
    .probeWritable = probeWritable,
    .loadWaiting = loadWaiting,
    .storeUserSize = keeper::storeUserSize,
    .probeOpen = platform::probeOpen,
    .fileStamp = platform::fileStamp,
    .keeperRunning = platform::keeperRunning,
    .sleepMilliseconds = platform::sleepMilliseconds,
};
SetCalls calls = REAL_CALLS;

// Writes made at most while a running keeper writes over them.
constexpr int WRITES = 5;
// The longest wait for the keeper's saves after a write, in steps of WAIT_STEP_MS (8 s), and the
// wait for one more pass when they cannot be seen.
constexpr unsigned SAVE_WAIT_STEPS = 160;
constexpr std::uint32_t PASS_WAIT_MS = keeper::CYCLE_PERIOD_MS + 100;
// The wait for the screen to show a size the keeper has switched to (2 s).
constexpr unsigned SCREEN_WAIT_STEPS = 40;

// Stores `size` for `name` in the file at `path`, waiting a bounded time while another program
// holds it. EXIT_OK when the document was written back, or tried to be: a store that could only
// read the file is EXIT_UNWRITABLE when this user may no longer write it (the rights changed);
// otherwise (another program was reading it just then) it is told apart by reading back.
int store(const std::string& path, const std::string& name, Size size) {
  for (unsigned step = 0; step < WAIT_STEPS; ++step) {
    switch (calls.storeUserSize(path.c_str(), name.c_str(), size.width, size.height)) {
      case keeper::StoreStatus::Stored:
        return EXIT_OK;
      case keeper::StoreStatus::NotWritten:
        return calls.probeOpen(path.c_str(), true) == platform::OpenProbe::Denied ? EXIT_UNWRITABLE
                                                                                  : EXIT_OK;
      case keeper::StoreStatus::NotKept:
        return EXIT_USAGE;
      case keeper::StoreStatus::NoMemory:
        return EXIT_FAILED;
      case keeper::StoreStatus::NotOpened:
        break;
    }
    const platform::OpenProbe probe = calls.probeOpen(path.c_str(), true);
    if (probe == platform::OpenProbe::Missing) return EXIT_NO_FILE;
    if (probe == platform::OpenProbe::Denied) return EXIT_UNWRITABLE;
    calls.sleepMilliseconds(WAIT_STEP_MS);
  }
  return EXIT_UNREADABLE;
}

// Waits until the file has been written twice since it had `stamp`, that is until the keeper
// has saved twice: the second save's pass loaded the file after the first save, so after the
// write that came before it. False when that was not seen within the bound (a keeper of
// another folder, or one that may not write the file).
bool awaitTwoSaves(const std::string& path, std::int64_t stamp) {
  int saves = 0;
  for (unsigned step = 0; step < SAVE_WAIT_STEPS && saves < 2; ++step) {
    calls.sleepMilliseconds(WAIT_STEP_MS);
    std::int64_t now = 0;
    if (calls.fileStamp(path.c_str(), &now) && now != stamp) {
      ++saves;
      stamp = now;
    }
  }
  return saves == 2;
}

// Whether the screen shows `size`, asked again for a moment: the keeper switched it in the pass
// whose save was seen, and the news of the change reaches this process a little later.
bool screenShows(Size size) {
  for (unsigned step = 0; step < SCREEN_WAIT_STEPS; ++step) {
    if (calls.screenSize() == size) return true;
    calls.sleepMilliseconds(WAIT_STEP_MS);
  }
  return calls.screenSize() == size;
}

// Whether the keeper, loading the file at `path` now, would give `name` the record `size`.
// EXIT_OK when it would, EXIT_DID_NOT_STAY when it would not, or the load's failure.
int check(const std::string& path, const std::string& name, Size size) {
  std::vector<Record> records;
  Encoding encoding = Encoding::Unknown;
  bool busy = false;
  const int read = calls.loadWaiting(path, records, encoding, busy);
  if (read != EXIT_OK) return read;
  const Record* record = findRecord(records, name);
  return record != nullptr && record->size == size ? EXIT_OK : EXIT_DID_NOT_STAY;
}

}  // namespace

SetCalls& setCalls() {
  return calls;
}

const SetCalls& defaultSetCalls() {
  return REAL_CALLS;
}

SetOutcome setResolution(const Folder& folder, const SetRequest& request,
                         const Progress& progress) {
  const auto say = [&](const std::string& line) {
    if (progress) progress(line);
  };
  const std::string name = request.userGiven ? request.user : currentUser().name;
  const std::string who = displayName(name);
  const std::string size = sizeText(request.size);
  if (name.empty()) {
    return {EXIT_USERNAME_EMPTY,
            "the keeper never reads a size back for the empty user name (an empty USERNAME): "
            "nothing changed; set USERNAME to the user's name"};
  }
  if (!canKeepSizeFor(name)) {
    return {EXIT_USAGE,
            "the user name " + who +
                " holds ], CR or LF, which a group header cannot hold; nothing changed"};
  }
  if (request.size.width <= 0 || request.size.height <= 0 || request.size.width > MAX_DIMENSION ||
      request.size.height > MAX_DIMENSION) {
    return {EXIT_USAGE, size + " is not a possible size; nothing changed"};
  }
  if (!request.force) {
    std::vector<Mode> modes;
    if (!calls.listModes(modes)) {
      return {EXIT_NO_DISPLAY, "the display cannot be reached, so " + size +
                                   " cannot be checked against its modes; nothing changed (--force "
                                   "stores it unchecked)"};
    }
    if (std::none_of(modes.begin(), modes.end(),
                     [&](const Mode& m) { return m.size == request.size; })) {
      return {EXIT_NOT_A_MODE, size +
                                   " is not a mode of this display; `reskeeperctl modes` lists "
                                   "them (--force stores it anyway); nothing changed"};
    }
  }
  const std::string file = preferenceFilePath(folder);
  if (!calls.regularFileExists(file.c_str())) {
    return {EXIT_NO_FILE, "there is no " + file + "; nothing changed"};
  }
  const int writable = calls.probeWritable(file);
  if (writable == EXIT_UNWRITABLE) {
    return {EXIT_UNWRITABLE, "this user cannot write " + file + "; nothing changed"};
  }
  if (writable == EXIT_UNREADABLE) {
    return {EXIT_UNREADABLE, "another program held " + file + " for over 5 s; nothing changed"};
  }
  if (writable != EXIT_OK) return {writable, "cannot open " + file + "; nothing changed"};

  // What to return to should the person not keep the new size.
  std::vector<Record> records;
  Encoding encoding = Encoding::Unknown;
  bool busy = false;
  const Size screenBefore = calls.screenSize();
  Size previous = screenBefore;
  if (calls.loadWaiting(file, records, encoding, busy) == EXIT_OK) {
    if (const Record* record = findRecord(records, name)) previous = record->size;
  }

  const bool keeperRuns = request.waitForKeeper && calls.keeperRunning();
  for (int write = 1; write <= WRITES; ++write) {
    if (write == 1) say("storing " + size + " for " + who + " in " + file);
    const int stored = store(file, name, request.size);
    std::int64_t written = 0;
    calls.fileStamp(file.c_str(), &written);
    const std::string outcome =
        write == 1 ? "nothing changed" : "the keeper wrote over the size stored before";
    if (stored == EXIT_UNREADABLE) {
      return {EXIT_UNREADABLE, "another program held " + file + " for over 5 s; " + outcome};
    }
    if (stored == EXIT_UNWRITABLE) {
      return {EXIT_UNWRITABLE, "this user cannot write " + file + "; " + outcome};
    }
    if (stored != EXIT_OK) {
      return {stored == EXIT_NO_FILE ? EXIT_NO_FILE : EXIT_FAILED,
              "could not store " + size + " in " + file};
    }
    if (!keeperRuns) {
      const int checked = check(file, name, request.size);
      if (checked == EXIT_OK) {
        return {EXIT_OK,
                "stored " + size + " for " + who +
                    (name == currentUser().name
                         ? " (no keeper runs in this session: it applies it when it starts)"
                         : " (their keeper applies it at its next pass)")};
      }
      // The store reads only when it may not write: the rights may have changed, or another
      // program was reading the file just then; the latter passes.
      if (calls.probeWritable(file) == EXIT_UNWRITABLE) {
        return {EXIT_UNWRITABLE, "this user cannot write " + file + "; " + outcome};
      }
      if (write == WRITES) {
        return {EXIT_FAILED, "the write of " + size + " did not land in " + file};
      }
      calls.sleepMilliseconds(WAIT_STEP_MS);
      continue;
    }
    say("stored; waiting for the keeper's next passes");
    const bool seen = awaitTwoSaves(file, written);
    int checked = check(file, name, request.size);
    if (checked == EXIT_OK && !seen) {
      calls.sleepMilliseconds(PASS_WAIT_MS);
      checked = check(file, name, request.size);
    }
    if (checked == EXIT_OK) {
      const bool switched = screenBefore != request.size && screenShows(request.size);
      return {EXIT_OK, "stored " + size + " for " + who + "; the keeper keeps it", previous,
              switched};
    }
    if (checked != EXIT_DID_NOT_STAY) {
      return {checked, "stored " + size + ", but " + file + " could not be read back"};
    }
    if (write < WRITES)
      say("the keeper wrote over it (its pass had read the file before); writing again");
  }
  return {EXIT_DID_NOT_STAY,
          "stored " + size + " for " + who + " " + std::to_string(WRITES) +
              " times, but the keeper wrote another size over it every time (another "
              "program writes the file, or the keeper remembers a name that "
              "differs only in case: restarting it clears that)"};
}

SetOutcome returnToPrevious(const Folder& folder, const SetRequest& request, const SetOutcome& set,
                            const Progress& progress) {
  SetRequest back = request;
  back.size = set.previous;
  back.force = true;  // it was kept or shown a moment ago
  SetOutcome returned = setResolution(folder, back, progress);
  if (returned.status != EXIT_OK) return returned;
  const std::string size = sizeText(set.previous);
  if (request.waitForKeeper && calls.keeperRunning() && !screenShows(set.previous)) {
    return {EXIT_RETURNED, "stored " + size + " again; the screen does not show it yet"};
  }
  return {EXIT_RETURNED, "returned to " + size + ", the size before"};
}

}  // namespace ctl
