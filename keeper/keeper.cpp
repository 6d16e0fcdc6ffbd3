// The three steps of a pass and the endless cycle; and, by the same rules, the loading and
// storing that the programs beside the keeper ask for (profiles.h).
#include "keeper/keeper.h"

#include <cstring>

#include "keeper/profiles.h"
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

// Merges every named group of the open document into `table`: a name already there takes the
// group's values, a new one is added. False when the document cannot be read or memory for a
// record cannot be had, after which the rest of the document is not merged.
bool mergeGroups(UserTable& table) {
  // The save step writes the groups in table order: the record after the last one merged is
  // usually the next group's.
  std::uint32_t expected = 0;
  if (!prefs::examineGroups()) return false;
  while (prefs::nextGroup()) {
    const platform::Owned<char> name = prefs::currentGroupName();
    if (!name) return false;
    if (name.get()[0] == '\0') continue;
    const std::int32_t width = prefs::readLong(KEY_WIDTH, DEFAULT_WIDTH);
    const std::int32_t height = prefs::readLong(KEY_HEIGHT, DEFAULT_HEIGHT);
    if (UserResolution* record = findExpecting(table, name.get(), expected)) {
      expected = static_cast<std::uint32_t>(record - table.records.records) + 1;
      if (record->width != width || record->height != height) ++table.version;
      record->width = width;
      record->height = height;
    } else if (!appendTo(table, name.get(), width, height)) {
      return false;
    }
  }
  return true;
}

// Writes both values into the current group, the second even when the first was dropped; false
// when either was.
bool writeSize(std::int32_t width, std::int32_t height) {
  const bool wroteWidth = prefs::writeLong(KEY_WIDTH, width);
  const bool wroteHeight = prefs::writeLong(KEY_HEIGHT, height);
  return wroteWidth && wroteHeight;
}

void releaseRecords(UserResolutionTable& table) {
  for (std::uint32_t i = 0; i < table.count; ++i) platform::release(table.records[i].userName);
  platform::release(table.records);
  table = UserResolutionTable{};
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
  complete = complete && mergeGroups(k.users);
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
  if (closeIfSteady()) return;
  bool writes = false;
  const UserResolutionTable& table = k.users.records;
  for (std::uint32_t i = 0; i < table.count; ++i) {
    const UserResolution& record = table.records[i];
    if (!fitsGroupHeader(record.userName)) continue;
    writes = true;
    prefs::selectGroup(record.userName);
    writeSize(record.width, record.height);
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

// ---- For the programs beside the keeper --------------------------------------------------

LoadedProfiles::LoadedProfiles(LoadedProfiles&& other) noexcept
    : status(other.status), encoding(other.encoding), table(other.table) {
  other.table = UserResolutionTable{};
}

LoadedProfiles& LoadedProfiles::operator=(LoadedProfiles&& other) noexcept {
  if (this != &other) {
    releaseRecords(table);
    status = other.status;
    encoding = other.encoding;
    table = other.table;
    other.table = UserResolutionTable{};
  }
  return *this;
}

LoadedProfiles::~LoadedProfiles() {
  releaseRecords(table);
}

LoadedProfiles loadProfilesAt(const char* path) noexcept {
  LoadedProfiles loaded;
  if (!prefs::openPreferences(path)) return loaded;
  loaded.encoding = prefs::isUtf8Document() ? FileEncoding::Utf8 : FileEncoding::Ansi;
  UserTable table;
  const bool complete = mergeGroups(table);
  prefs::closePreferences();
  loaded.table = takeRecords(table);
  loaded.status = complete ? LoadStatus::Loaded : LoadStatus::Incomplete;
  return loaded;
}

const UserResolution* findProfile(const LoadedProfiles& profiles, const char* name) noexcept {
  for (std::uint32_t i = 0; i < profiles.table.count; ++i) {
    if (std::strcmp(profiles.table.records[i].userName, name) == 0) {
      return &profiles.table.records[i];
    }
  }
  return nullptr;
}

bool canKeepSizeFor(const char* name) noexcept {
  return name[0] != '\0' && fitsGroupHeader(name);
}

StoreStatus storeUserSize(const char* path, const char* name, std::int32_t width,
                          std::int32_t height) noexcept {
  if (!canKeepSizeFor(name)) return StoreStatus::NotKept;
  if (!prefs::openPreferences(path)) return StoreStatus::NotOpened;
  bool exact = false;
  bool complete = prefs::examineGroups();
  while (complete && prefs::nextGroup()) {
    const platform::Owned<char> group = prefs::currentGroupName();
    if (!group) {
      complete = false;
      break;
    }
    // Writes go into the current group's own section, so the enumeration goes on after it.
    if (!prefs::namesMatch(group.get(), name, prefs::NameMatch::IgnoreAsciiCase)) continue;
    complete = writeSize(width, height);
    exact = exact || std::strcmp(group.get(), name) == 0;
  }
  if (complete && !exact) complete = prefs::appendGroup(name) && writeSize(width, height);
  // A size in some of the groups only may not be the one the keeper keeps: without every
  // write, nothing is written.
  if (!complete) {
    prefs::discardPreferences();
    return StoreStatus::NoMemory;
  }
  prefs::closePreferences();
  return prefs::fileTrace().writtenWhole ? StoreStatus::Stored : StoreStatus::NotWritten;
}

}  // namespace keeper
