// Storing a user's size so that the keeper applies and keeps it, whatever the file holds: the
// keeper's own store (keeper/profiles.h) puts it into every group the keeper reads or writes for
// the user; this file waits for the file, and for a running keeper's passes to confirm it.
#include <algorithm>
#include <optional>

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

// What a set is about, worked out once: the user as the keeper names them, and the texts that
// name the user, the size and the file.
struct Job {
  std::string name;
  std::string who;
  std::string size;
  std::string file;
  Size wanted;
};

// Stores `job.wanted` for `job.name`, waiting a bounded time while another program holds the
// file. Fine when the document was written back, or tried to be: a store that could only read
// the file is Unwritable when this user may no longer write it (the rights changed); otherwise
// (another program was reading it just then) it is told apart by reading back. Missing,
// Unwritable or Held otherwise; nullopt for a name the keeper cannot keep, or no memory.
std::optional<FileAccess> store(const Job& job) {
  std::optional<FileAccess> stored = FileAccess::Held;
  staysHeld(
      [&] {
        switch (calls.storeUserSize(job.file.c_str(), job.name.c_str(), job.wanted.width,
                                    job.wanted.height)) {
          case keeper::StoreStatus::Stored:
            stored = FileAccess::Fine;
            return false;
          case keeper::StoreStatus::NotWritten:
            stored = calls.probeOpen(job.file.c_str(), /*forWriting=*/true) ==
                             platform::OpenProbe::Denied
                         ? FileAccess::Unwritable
                         : FileAccess::Fine;
            return false;
          case keeper::StoreStatus::NotKept:
          case keeper::StoreStatus::NoMemory:
            stored = std::nullopt;
            return false;
          case keeper::StoreStatus::NotOpened:
            break;
        }
        const platform::OpenProbe probe = calls.probeOpen(job.file.c_str(), /*forWriting=*/true);
        if (probe == platform::OpenProbe::Missing) stored = FileAccess::Missing;
        if (probe == platform::OpenProbe::Denied) stored = FileAccess::Unwritable;
        return probe != platform::OpenProbe::Missing && probe != platform::OpenProbe::Denied;
      },
      calls.sleepMilliseconds);
  return stored;
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

// Whether the keeper, loading the file now, would give the user the record `job.wanted`: Kept,
// DidNotStay, or what the load met.
SetResult check(const Job& job) {
  std::vector<Record> records;
  keeper::FileEncoding encoding = keeper::FileEncoding::Ansi;
  switch (calls.loadWaiting(job.file, records, encoding)) {
    case FileAccess::Fine:
      break;
    case FileAccess::Missing:
      return SetResult::NoFile;
    case FileAccess::Held:
      return SetResult::Held;
    case FileAccess::Unreadable:
    case FileAccess::Unwritable:
      return SetResult::Unreadable;
  }
  const Record* record = findRecord(records, job.name);
  return record != nullptr && record->size == job.wanted ? SetResult::Kept : SetResult::DidNotStay;
}

// Why a request cannot be stored, before the file is touched; nullopt when it can.
std::optional<SetOutcome> refusal(const Job& job, const SetRequest& request) {
  if (job.name.empty()) {
    return SetOutcome{SetResult::EmptyUserName,
                      "the keeper never reads a size back for the empty user name (an empty "
                      "USERNAME): nothing changed; set USERNAME to the user's name"};
  }
  if (!canKeepSizeFor(job.name)) {
    return SetOutcome{SetResult::Refused,
                      "the user name " + job.who +
                          " holds ], CR or LF, which a group header cannot hold; nothing changed"};
  }
  const Size size = request.size;
  if (size.width <= 0 || size.height <= 0 || size.width > MAX_DIMENSION ||
      size.height > MAX_DIMENSION) {
    return SetOutcome{SetResult::Refused, job.size + " is not a possible size; nothing changed"};
  }
  if (request.force) return std::nullopt;
  std::vector<Mode> modes;
  if (!calls.listModes(modes)) {
    return SetOutcome{SetResult::NoDisplay,
                      "the display cannot be reached, so " + job.size +
                          " cannot be checked against its modes; nothing changed (--force "
                          "stores it unchecked)"};
  }
  if (std::none_of(modes.begin(), modes.end(), [&](const Mode& m) { return m.size == size; })) {
    return SetOutcome{SetResult::NotAMode,
                      job.size +
                          " is not a mode of this display; `reskeeperctl modes` lists them "
                          "(--force stores it anyway); nothing changed"};
  }
  return std::nullopt;
}

// Why the file cannot take the size, before it is written; nullopt when it can.
std::optional<SetOutcome> fileRefusal(const Job& job) {
  if (!calls.regularFileExists(job.file.c_str())) {
    return SetOutcome{SetResult::NoFile, "there is no " + job.file + "; nothing changed"};
  }
  switch (calls.probeWritable(job.file)) {
    case FileAccess::Fine:
      return std::nullopt;
    case FileAccess::Unwritable:
      return SetOutcome{SetResult::Unwritable,
                        "this user cannot write " + job.file + "; nothing changed"};
    case FileAccess::Held:
      return SetOutcome{SetResult::Held, heldText(job.file) + "; nothing changed"};
    case FileAccess::Missing:
      return SetOutcome{SetResult::NoFile, "cannot open " + job.file + "; nothing changed"};
    case FileAccess::Unreadable:
      break;
  }
  return SetOutcome{SetResult::Failed, "cannot open " + job.file + "; nothing changed"};
}

// What a store that did not land comes to, `outcome` saying what became of the file.
SetOutcome notStored(const Job& job, std::optional<FileAccess> stored, const std::string& outcome) {
  if (stored == FileAccess::Held) return {SetResult::Held, heldText(job.file) + "; " + outcome};
  if (stored == FileAccess::Unwritable) {
    return {SetResult::Unwritable, "this user cannot write " + job.file + "; " + outcome};
  }
  return {stored == FileAccess::Missing ? SetResult::NoFile : SetResult::Failed,
          "could not store " + job.size + " in " + job.file};
}

// The size was stored and no keeper runs to confirm it: read back, Kept or another write.
std::optional<SetOutcome> storedWithoutKeeper(const Job& job, int write,
                                              const std::string& outcome) {
  if (check(job) == SetResult::Kept) {
    return SetOutcome{SetResult::Kept,
                      "stored " + job.size + " for " + job.who +
                          (job.name == currentUser().name
                               ? " (no keeper runs in this session: it applies it when it starts)"
                               : " (their keeper applies it at its next pass)")};
  }
  // The store reads only when it may not write: the rights may have changed, or another
  // program was reading the file just then; the latter passes.
  if (calls.probeWritable(job.file) == FileAccess::Unwritable) {
    return SetOutcome{SetResult::Unwritable, "this user cannot write " + job.file + "; " + outcome};
  }
  if (write == WRITES) {
    return SetOutcome{SetResult::Failed,
                      "the write of " + job.size + " did not land in " + job.file};
  }
  calls.sleepMilliseconds(WAIT_STEP_MS);
  return std::nullopt;
}

// The size was stored and a keeper runs: its next passes confirm it, or write over it (nullopt:
// write again).
std::optional<SetOutcome> storedWithKeeper(const Job& job, std::int64_t written, Size screenBefore,
                                           Size previous, const Progress& say) {
  say("stored; waiting for the keeper's next passes");
  const bool seen = awaitTwoSaves(job.file, written);
  SetResult checked = check(job);
  if (checked == SetResult::Kept && !seen) {
    calls.sleepMilliseconds(PASS_WAIT_MS);
    checked = check(job);
  }
  if (checked == SetResult::Kept) {
    const bool switched = screenBefore != job.wanted && screenShows(job.wanted);
    return SetOutcome{SetResult::Kept,
                      "stored " + job.size + " for " + job.who + "; the keeper keeps it", previous,
                      switched};
  }
  if (checked != SetResult::DidNotStay) {
    return SetOutcome{checked,
                      "stored " + job.size + ", but " + job.file + " could not be read back"};
  }
  return std::nullopt;
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
  const Progress say = [&](const std::string& line) {
    if (progress) progress(line);
  };
  Job job;
  job.name = request.userGiven ? request.user : currentUser().name;
  job.who = displayName(job.name);
  job.size = sizeText(request.size);
  job.file = preferenceFilePath(folder);
  job.wanted = request.size;
  if (const auto refused = refusal(job, request)) return *refused;
  if (const auto refused = fileRefusal(job)) return *refused;

  // What to return to should the person not keep the new size.
  std::vector<Record> records;
  keeper::FileEncoding encoding = keeper::FileEncoding::Ansi;
  const Size screenBefore = calls.screenSize();
  Size previous = screenBefore;
  if (calls.loadWaiting(job.file, records, encoding) == FileAccess::Fine) {
    if (const Record* record = findRecord(records, job.name)) previous = record->size;
  }

  const bool keeperRuns = request.waitForKeeper && calls.keeperRunning();
  for (int write = 1; write <= WRITES; ++write) {
    if (write == 1) say("storing " + job.size + " for " + job.who + " in " + job.file);
    const std::optional<FileAccess> stored = store(job);
    std::int64_t written = 0;
    calls.fileStamp(job.file.c_str(), &written);
    const std::string outcome =
        write == 1 ? "nothing changed" : "the keeper wrote over the size stored before";
    if (stored != FileAccess::Fine) return notStored(job, stored, outcome);
    const std::optional<SetOutcome> done =
        keeperRuns ? storedWithKeeper(job, written, screenBefore, previous, say)
                   : storedWithoutKeeper(job, write, outcome);
    if (done) return *done;
    if (keeperRuns && write < WRITES) {
      say("the keeper wrote over it (its pass had read the file before); writing again");
    }
  }
  return {SetResult::DidNotStay,
          "stored " + job.size + " for " + job.who + " " + std::to_string(WRITES) +
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
  if (returned.result != SetResult::Kept) return returned;
  const std::string size = sizeText(set.previous);
  if (request.waitForKeeper && calls.keeperRunning() && !screenShows(set.previous)) {
    return {SetResult::Returned, "stored " + size + " again; the screen does not show it yet"};
  }
  return {SetResult::Returned, "returned to " + size + ", the size before"};
}

}  // namespace ctl
