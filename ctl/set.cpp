// Storing a user's size so that the keeper applies and keeps it, whatever the file holds.
//
// The keeper loads a user's record from the last group named exactly like the user, and saves
// each record into the first group whose name matches ignoring ASCII case. So the size goes
// into every group that matches ignoring case: the group the keeper loads from and the groups
// its save step writes into then all hold it, and records of names that differ only in case
// converge on it. When no group is named exactly like the user, one is added at the end.
#include <algorithm>

#include "ctl/ctl.h"
#include "ctl/internal.h"
#include "keeper/keeper.h"
#include "platform/platform.h"
#include "platform/tools.h"
#include "prefs/prefs.h"

namespace ctl {
namespace {

constexpr char KEY_WIDTH[] = "Res_X";
constexpr char KEY_HEIGHT[] = "Res_Y";
// Writes made at most while a running keeper writes over them.
constexpr int WRITES = 5;
// The longest wait for the keeper's saves after a write, in steps of WAIT_STEP_MS (8 s), and the
// wait for one more pass when they cannot be seen.
constexpr unsigned SAVE_WAIT_STEPS = 160;
constexpr std::uint32_t PASS_WAIT_MS = keeper::CYCLE_PERIOD_MS + 100;

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerAscii(x) == lowerAscii(y);
         });
}

std::string sizeText(Size size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// Writes `size` into the groups of `name` in the current folder's file, waiting a bounded time
// while another program holds it. EXIT_OK when the document was written back (or tried to be).
int storeHere(const std::string& name, Size size) {
  bool opened = false;
  for (unsigned step = 0; step < WAIT_STEPS && !opened; ++step) {
    opened = prefs::openPreferences(keeper::PREFERENCE_FILE);
    if (opened) break;
    const platform::OpenProbe probe = platform::probeOpen(keeper::PREFERENCE_FILE, true);
    if (probe == platform::OpenProbe::Missing) return EXIT_NO_FILE;
    if (probe == platform::OpenProbe::Denied) return EXIT_UNWRITABLE;
    platform::sleepMilliseconds(WAIT_STEP_MS);
  }
  if (!opened) return EXIT_UNREADABLE;
  bool exact = false;
  bool ok = prefs::examineGroups();
  while (ok && prefs::nextGroup()) {
    const platform::Owned<char> group = prefs::currentGroupName();
    if (!group) {
      ok = false;
      break;
    }
    // Writes go into the current group's own section, so the enumeration goes on after it.
    if (!equalIgnoringAsciiCase(group.get(), name)) continue;
    prefs::writeLong(KEY_WIDTH, size.width);
    prefs::writeLong(KEY_HEIGHT, size.height);
    exact = exact || name == group.get();
  }
  if (ok && !exact) {
    ok = prefs::appendGroup(name.c_str());
    if (ok) {
      prefs::writeLong(KEY_WIDTH, size.width);
      prefs::writeLong(KEY_HEIGHT, size.height);
    }
  }
  if (!ok) {
    // Nothing half-done reaches the file: a document closed unmodified is not written. Writes
    // already made are written back, which holds no harm: each is the size asked for.
    prefs::closePreferences();
    return EXIT_FAILED;
  }
  prefs::closePreferences();
  return EXIT_OK;
}

// Waits until the file has been written twice since it had `stamp`, that is until the keeper
// has saved twice: the second save's pass loaded the file after the first save, so after the
// write that came before it. False when that was not seen within the bound (a keeper of
// another folder, or one that may not write the file).
bool awaitTwoSaves(std::int64_t stamp) {
  int saves = 0;
  for (unsigned step = 0; step < SAVE_WAIT_STEPS && saves < 2; ++step) {
    platform::sleepMilliseconds(WAIT_STEP_MS);
    std::int64_t now = 0;
    if (platform::fileStamp(keeper::PREFERENCE_FILE, &now) && now != stamp) {
      ++saves;
      stamp = now;
    }
  }
  return saves == 2;
}

// Whether the keeper, loading the current folder's file now, would give `name` the record
// `size`. EXIT_OK when it would, EXIT_DID_NOT_STAY when it would not, or the load's failure.
int checkHere(const std::string& name, Size size) {
  std::vector<Record> records;
  Encoding encoding = Encoding::Unknown;
  bool busy = false;
  const int read = loadHere(records, encoding, busy);
  if (read != EXIT_OK) return read;
  const Record* record = findRecord(records, name);
  return record != nullptr && record->size == size ? EXIT_OK : EXIT_DID_NOT_STAY;
}

}  // namespace

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
  if (!fitsGroupHeader(name)) {
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
    if (!listModes(modes)) {
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
  if (!enterFolder(folder) || !platform::regularFileExists(keeper::PREFERENCE_FILE)) {
    return {EXIT_NO_FILE, "there is no " + file + "; nothing changed"};
  }
  const int writable = probeWritableHere();
  if (writable == EXIT_UNWRITABLE) {
    return {EXIT_UNWRITABLE, "this user cannot write " + file + "; nothing changed"};
  }
  if (writable == EXIT_UNREADABLE) {
    return {EXIT_UNREADABLE, "another program held " + file + " for over 5 s; nothing changed"};
  }
  if (writable != EXIT_OK) return {writable, "cannot open " + file + "; nothing changed"};

  const bool keeperRuns = platform::keeperRunning();
  for (int write = 1; write <= WRITES; ++write) {
    if (write == 1) say("storing " + size + " for " + who + " in " + file);
    const int stored = storeHere(name, request.size);
    std::int64_t written = 0;
    platform::fileStamp(keeper::PREFERENCE_FILE, &written);
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
      const int check = checkHere(name, request.size);
      if (check == EXIT_OK) {
        return {EXIT_OK,
                "stored " + size + " for " + who +
                    (name == currentUser().name
                         ? " (no keeper runs in this session: it applies it when it starts)"
                         : " (their keeper applies it at its next pass)")};
      }
      // The store reads only when it may not write: the rights may have changed, or another
      // program was reading the file just then; the latter passes.
      if (probeWritableHere() == EXIT_UNWRITABLE) {
        return {EXIT_UNWRITABLE, "this user cannot write " + file + "; " + outcome};
      }
      if (write == WRITES) {
        return {EXIT_FAILED, "the write of " + size + " did not land in " + file};
      }
      platform::sleepMilliseconds(WAIT_STEP_MS);
      continue;
    }
    say("stored; waiting for the keeper's next passes");
    const bool seen = awaitTwoSaves(written);
    int check = checkHere(name, request.size);
    if (check == EXIT_OK && !seen) {
      platform::sleepMilliseconds(PASS_WAIT_MS);
      check = checkHere(name, request.size);
    }
    if (check == EXIT_OK) {
      return {EXIT_OK, "stored " + size + " for " + who + "; the keeper keeps it"};
    }
    if (check != EXIT_DID_NOT_STAY) {
      return {check, "stored " + size + ", but " + file + " could not be read back"};
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

}  // namespace ctl
