// Reading what the keeper makes of the folder's file and of this session: its records, loaded
// with the keeper's own load step; the display's modes; and the status report with its
// findings.
#include <algorithm>

#include "ctl/ctl.h"
#include "ctl/internal.h"
#include "keeper/keeper.h"
#include "platform/platform.h"
#include "platform/tools.h"
#include "prefs/prefs.h"

namespace ctl {
namespace {

// The probe's answer, asked again while another program holds the file, up to the bound.
platform::OpenProbe probeWaiting(bool forWriting) {
  platform::OpenProbe probe = platform::OpenProbe::Busy;
  for (unsigned step = 0; step < WAIT_STEPS; ++step) {
    probe = platform::probeOpen(keeper::PREFERENCE_FILE, forWriting);
    if (probe != platform::OpenProbe::Busy) break;
    platform::sleepMilliseconds(WAIT_STEP_MS);
  }
  return probe;
}

// One try at reading the file as the keeper does; false when it could not be opened.
bool tryLoad(std::vector<Record>& records, Encoding& encoding) {
  if (!prefs::openPreferences(keeper::PREFERENCE_FILE)) return false;
  encoding = prefs::isUtf8Document() ? Encoding::Utf8 : Encoding::Ansi;
  prefs::closePreferences();
  keeper::clearUserTable();
  keeper::loadProfiles();
  // The store records the fingerprint of every file it opened whole.
  if (prefs::fileTrace().opened.length < 0) return false;
  const keeper::UserResolutionTable& table = keeper::users();
  records.clear();
  for (std::uint32_t i = 0; i < table.count; ++i) {
    const keeper::UserResolution& r = table.records[i];
    records.push_back({r.userName, {r.width, r.height}});
  }
  return true;
}

void addMode(void* context, std::int32_t width, std::int32_t height, std::int32_t hz,
             bool present) {
  auto& modes = *static_cast<std::vector<Mode>*>(context);
  const Size size{width, height};
  auto mode =
      std::find_if(modes.begin(), modes.end(), [&](const Mode& m) { return m.size == size; });
  if (mode == modes.end()) mode = modes.insert(modes.end(), Mode{size, {}, false});
  if (hz > 0 && std::find(mode->refreshRates.begin(), mode->refreshRates.end(), hz) ==
                    mode->refreshRates.end()) {
    mode->refreshRates.push_back(hz);
  }
  mode->present = mode->present || present;
}

std::string sizeText(Size size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

}  // namespace

int loadHere(std::vector<Record>& records, Encoding& encoding, bool& busy) {
  busy = false;
  records.clear();
  for (unsigned step = 0; step < WAIT_STEPS; ++step) {
    if (tryLoad(records, encoding)) return EXIT_OK;
    switch (platform::probeOpen(keeper::PREFERENCE_FILE, false)) {
      case platform::OpenProbe::Missing:
        return EXIT_NO_FILE;
      case platform::OpenProbe::Denied:
      case platform::OpenProbe::Failed:
        return EXIT_UNREADABLE;
      case platform::OpenProbe::Busy:
      case platform::OpenProbe::Opened:  // held a moment ago, or short of memory: try again
        break;
    }
    platform::sleepMilliseconds(WAIT_STEP_MS);
  }
  busy = true;
  return EXIT_UNREADABLE;
}

int probeWritableHere() {
  switch (probeWaiting(true)) {
    case platform::OpenProbe::Opened:
      return EXIT_OK;
    case platform::OpenProbe::Missing:
      return EXIT_NO_FILE;
    case platform::OpenProbe::Busy:
      return EXIT_UNREADABLE;
    case platform::OpenProbe::Denied:
    case platform::OpenProbe::Failed:
      break;
  }
  return EXIT_UNWRITABLE;
}

const Record* findRecord(const std::vector<Record>& records, const std::string& name) {
  for (const Record& record : records) {
    if (record.user == name) return &record;
  }
  return nullptr;
}

int loadRecords(const Folder& folder, std::vector<Record>& records) {
  records.clear();
  if (!enterFolder(folder)) return EXIT_NO_FILE;
  Encoding encoding = Encoding::Unknown;
  bool busy = false;
  return loadHere(records, encoding, busy);
}

bool listModes(std::vector<Mode>& modes) {
  modes.clear();
  if (!platform::visitDisplayModes(addMode, &modes)) {
    modes.clear();
    return false;
  }
  for (Mode& mode : modes) std::sort(mode.refreshRates.rbegin(), mode.refreshRates.rend());
  std::stable_sort(modes.begin(), modes.end(), [](const Mode& a, const Mode& b) {
    return std::int64_t{a.size.width} * a.size.height >
               std::int64_t{b.size.width} * b.size.height ||
           (std::int64_t{a.size.width} * a.size.height ==
                std::int64_t{b.size.width} * b.size.height &&
            a.size.width > b.size.width);
  });
  return !modes.empty();
}

int Status::exitStatus() const {
  int lowest = EXIT_OK;
  for (const Finding& finding : findings) {
    if (lowest == EXIT_OK || finding.status < lowest) lowest = finding.status;
  }
  return lowest;
}

Status readStatus(const Folder& folder) {
  Status s;
  s.folder = folder;
  s.file = preferenceFilePath(folder);
  s.user = currentUser();
  const auto find = [&](int status, std::string text) { s.findings.push_back({status, text}); };

  std::vector<Record> records;
  int read = EXIT_NO_FILE;
  if (enterFolder(folder)) read = loadHere(records, s.fileState.encoding, s.fileState.busy);
  s.fileState.exists = read != EXIT_NO_FILE;
  s.fileState.readable = read == EXIT_OK;
  if (read == EXIT_NO_FILE) {
    find(EXIT_NO_FILE, "there is no " + s.file +
                           ": the keeper reads and stores nothing until it exists; create it "
                           "(an empty file will do) or name the folder with --folder");
  } else if (s.fileState.busy) {
    find(EXIT_UNREADABLE, "another program held " + s.file +
                              " for over 5 s: while it does, the keeper can neither read nor "
                              "store sizes; close that program");
  } else if (read != EXIT_OK) {
    find(EXIT_UNREADABLE, "this user cannot read " + s.file +
                              ": the keeper keeps nothing from it; give Users read and write "
                              "access to it");
  }
  if (s.fileState.exists && !s.fileState.busy) {
    const int write = probeWritableHere();
    s.fileState.writable = write == EXIT_OK || write == EXIT_UNREADABLE;
    if (write == EXIT_UNWRITABLE) {
      find(EXIT_UNWRITABLE, "this user cannot write " + s.file +
                                ": the keeper applies what the file holds but records no new "
                                "size; give Users write access to it (the installer does)");
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
  if (const Record* record = findRecord(records, s.user.name)) {
    s.hasRecord = true;
    s.record = record->size;
  }

  const std::int32_t width = platform::primaryDisplayWidth();
  const std::int32_t height = platform::primaryDisplayHeight();
  s.screenKnown = width > 0 && height > 0;
  if (s.screenKnown) s.screen = {width, height};
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
