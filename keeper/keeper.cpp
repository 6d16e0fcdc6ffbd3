// The three steps of a pass and the endless cycle.
#include "keeper/keeper.h"

#include <cstring>

#include "keeper/state.h"
#include "platform/platform.h"
#include "prefs/prefs.h"

namespace keeper {
namespace {

constexpr char KEY_WIDTH[] = "Res_X";
constexpr char KEY_HEIGHT[] = "Res_Y";

// A user name that a group header cannot hold would be saved under a header that reads back
// as another name, and a new group would be appended at every pass.
bool fitsGroupHeader(const char* name) {
  for (; *name != '\0'; ++name) {
    if (*name == ']' || *name == '\r' || *name == '\n') return false;
  }
  return true;
}

}  // namespace

void loadProfiles() noexcept {
  KeeperState& k = keeperState();
  bool complete = prefs::openPreferences(PREFERENCE_FILE);
  if (loadIsSteady() && complete) {
    prefs::closePreferences();
    k.loadComplete = true;
    return;
  }
  // The save step writes the groups in table order: the record after the last one merged is
  // usually the next group's.
  std::uint32_t expected = 0;
  complete = complete && prefs::examineGroups();
  while (complete && prefs::nextGroup()) {
    const platform::Owned<char> name = prefs::currentGroupName();
    if (!name) {
      complete = false;
      break;
    }
    if (name.get()[0] == '\0') continue;
    const std::int32_t width = prefs::readLong(KEY_WIDTH, DEFAULT_WIDTH);
    const std::int32_t height = prefs::readLong(KEY_HEIGHT, DEFAULT_HEIGHT);
    if (UserResolution* record = findUserExpecting(name.get(), expected)) {
      expected = static_cast<std::uint32_t>(record - k.table.records) + 1;
      if (record->width != width || record->height != height) ++k.tableVersion;
      record->width = width;
      record->height = height;
    } else if (!appendUser(name.get(), width, height)) {
      complete = false;
    }
  }
  prefs::closePreferences();
  k.loadComplete = complete;
}

UserName currentUserName() noexcept {
  UserName name;
  std::memset(name.text, ' ', USER_NAME_CAPACITY);
  name.text[USER_NAME_CAPACITY] = '\0';
  // A value too long for the buffer counts as no value: the name stays the 255 spaces.
  if (platform::readEnvironment("USERNAME", name.text, USER_NAME_CAPACITY) >= USER_NAME_CAPACITY) {
    std::memset(name.text, ' ', USER_NAME_CAPACITY);
    name.text[USER_NAME_CAPACITY] = '\0';
  }
  return name;
}

void applyCurrentUser() noexcept {
  const UserName name = currentUserName();
  const std::int32_t width = platform::primaryDisplayWidth();
  const std::int32_t height = platform::primaryDisplayHeight();
  if (const UserResolution* record = findUser(name.text)) {
    if (record->width != width || record->height != height) {
      platform::changeDisplayMode(record->width, record->height, TARGET_BITS_PER_PIXEL);
    }
    return;
  }
  // A display that cannot tell its size (no X server yet, a failed query) reads 0: recording
  // that would have the user switched to 0 x 0 at every later pass. The user is recorded at
  // the first pass that sees a real size.
  if (width <= 0 || height <= 0) return;
  appendUser(name.text, width, height);
}

void saveProfiles() noexcept {
  const KeeperState& k = keeperState();
  // When the last load step could not merge the whole file (the file held by another process,
  // memory running out), the apply step may have recorded a user's present size in place of a
  // stored one that was never read, and saving that would overwrite the stored size; so such a
  // pass saves nothing, and the next whole load puts it right.
  if (!k.loadComplete || !prefs::openPreferences(PREFERENCE_FILE)) {
    prefs::closePreferences();
    forgetSteadyPass();
    return;
  }
  if (saveIsSteady()) {
    prefs::closePreferences();
    return;
  }
  bool writes = false;
  for (std::uint32_t i = 0; i < k.table.count; ++i) {
    const UserResolution& record = k.table.records[i];
    if (!fitsGroupHeader(record.userName)) continue;
    writes = true;
    prefs::selectGroup(record.userName);
    prefs::writeLong(KEY_WIDTH, record.width);
    prefs::writeLong(KEY_HEIGHT, record.height);
  }
  prefs::closePreferences();
  learnFromSave(writes);
}

void runPass() noexcept {
  loadProfiles();
  applyCurrentUser();
  saveProfiles();
}

void runKeeper() noexcept {
  for (;;) {
    runPass();
    platform::sleepMilliseconds(CYCLE_PERIOD_MS);
  }
}

}  // namespace keeper
