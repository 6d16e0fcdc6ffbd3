// The resolution keeper: the user table, the three steps of a pass, and the endless cycle.
#include "keeper/keeper.h"

#include <cstring>

#include "platform/platform.h"
#include "prefs/prefs.h"

namespace keeper {
namespace {

UserResolutionTable table;
bool indexEnabled = true;
// With the index, whether no two records share a name; and the record after the last one
// found, which a load over a file in table order finds without touching the index.
bool namesUnique = true;
std::uint32_t nextGuess = 0;

// Whether the last load step merged the whole file into the table. When it could not (the
// file held by another process, memory running out), the apply step may record a user's
// present size in place of a stored one that was never read, and saving that would overwrite
// the stored size; so such a pass saves nothing, and the next whole load puts it right.
bool loadComplete = true;

// A steady pass is one that changed nothing: its load step found every record as it was, its
// apply step recorded nobody, and its save step read the bytes the load step read and wrote
// them back unchanged. Until the table or the file changes, every later pass would do the same,
// so the next passes skip parsing: a load step that reads those bytes again has nothing to
// merge, and a save step that reads them again writes them back as they are. Only a
// fingerprint of the file is kept between passes, never its content.
struct SteadyPass {
  bool known = false;
  prefs::ContentFingerprint file;  // what the file held
  std::uint64_t tableVersion = 0;  // the table it held for
  bool writes = false;             // whether the save step writes the file back
};
SteadyPass steady;
bool steadyEnabled = true;
// Counts changes to the table's records: additions and values loaded that differ.
std::uint64_t tableVersion = 0;
// What the present pass's load step saw.
std::uint64_t versionBeforeLoad = 0;
prefs::ContentFingerprint loadedFile;

bool steadyFor(const prefs::ContentFingerprint& file) {
  return steadyEnabled && steady.known && steady.tableVersion == tableVersion &&
         steady.file == file;
}

constexpr char KEY_WIDTH[] = "Res_X";
constexpr char KEY_HEIGHT[] = "Res_Y";

std::uint32_t nameHash(const char* name) {
  std::uint32_t hash = 2166136261u;
  for (auto* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
    hash = (hash ^ *p) * 16777619u;
  }
  return hash;
}

// The index slot of `name`: the one holding its first record, or the empty one where it goes.
std::uint32_t* indexSlot(const char* name) {
  const std::uint32_t mask = table.indexCapacity - 1;
  for (std::uint32_t i = nameHash(name) & mask;; i = (i + 1) & mask) {
    std::uint32_t* slot = &table.index[i];
    if (*slot == 0 || std::strcmp(table.records[*slot - 1].userName, name) == 0) return slot;
  }
}

void dropIndex() {
  platform::release(table.index);
  table.index = nullptr;
  table.indexCapacity = 0;
}

// Rebuilds the index with room for the records and `extra` more, or drops it when memory
// cannot be had: lookups then walk the table.
void growIndex(std::uint32_t extra) {
  std::uint64_t capacity = 16;
  while (capacity < 2 * (static_cast<std::uint64_t>(table.count) + extra)) capacity *= 2;
  dropIndex();
  if (!indexEnabled || capacity > UINT32_MAX / 2) return;
  table.index = platform::allocateArray<std::uint32_t>(capacity);
  if (table.index == nullptr) return;
  table.indexCapacity = static_cast<std::uint32_t>(capacity);
  std::memset(table.index, 0, capacity * sizeof(std::uint32_t));
  namesUnique = true;
  for (std::uint32_t i = 0; i < table.count; ++i) {
    std::uint32_t* slot = indexSlot(table.records[i].userName);
    if (*slot == 0) {
      *slot = i + 1;  // the first record of a name wins
    } else {
      namesUnique = false;
    }
  }
}

// A user name that a group header cannot hold would be saved under a header that reads back
// as another name, and a new group would be appended at every pass.
bool fitsGroupHeader(const char* name) {
  for (; *name != '\0'; ++name) {
    if (*name == ']' || *name == '\r' || *name == '\n') return false;
  }
  return true;
}

}  // namespace

UserResolutionTable& userTable() noexcept { return table; }

UserResolution* findUser(const char* name) noexcept {
  if (table.index != nullptr) {
    if (namesUnique && nextGuess < table.count &&
        std::strcmp(table.records[nextGuess].userName, name) == 0) {
      return &table.records[nextGuess++];
    }
    const std::uint32_t number = *indexSlot(name);
    if (number == 0) return nullptr;
    nextGuess = number;
    return &table.records[number - 1];
  }
  for (std::uint32_t i = 0; i < table.count; ++i) {
    if (std::strcmp(table.records[i].userName, name) == 0) return &table.records[i];
  }
  return nullptr;
}

bool appendUser(const char* name, std::int32_t width, std::int32_t height) noexcept {
  if (table.count == UINT32_MAX - 1) return false;
  if (table.count == table.capacity) {
    const std::uint64_t capacity = table.capacity == 0 ? 16 : 2 * std::uint64_t{table.capacity};
    if (capacity > UINT32_MAX - 1) return false;
    auto* records = platform::allocateArray<UserResolution>(capacity);
    if (records == nullptr) return false;
    if (table.count > 0) std::memcpy(records, table.records, table.count * sizeof *records);
    platform::release(table.records);
    table.records = records;
    table.capacity = static_cast<std::uint32_t>(capacity);
  }
  const std::size_t length = std::strlen(name);
  char* copy = platform::allocateArray<char>(length + 1);
  if (copy == nullptr) return false;
  std::memcpy(copy, name, length + 1);
  if (2 * (std::uint64_t{table.count} + 1) > table.indexCapacity) growIndex(1);
  table.records[table.count++] = UserResolution{copy, width, height};
  ++tableVersion;
  if (table.index != nullptr) {
    std::uint32_t* slot = indexSlot(copy);
    if (*slot == 0) {
      *slot = table.count;
    } else {
      namesUnique = false;
    }
  }
  return true;
}

void loadProfiles() noexcept {
  versionBeforeLoad = tableVersion;
  bool complete = prefs::openPreferences(PREFERENCE_FILE);
  loadedFile = prefs::openFingerprint();
  if (complete && steadyFor(loadedFile)) {
    prefs::closePreferences();
    loadComplete = true;
    return;
  }
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
    if (UserResolution* record = findUser(name.get())) {
      if (record->width != width || record->height != height) ++tableVersion;
      record->width = width;
      record->height = height;
    } else if (!appendUser(name.get(), width, height)) {
      complete = false;
    }
  }
  prefs::closePreferences();
  loadComplete = complete;
}

UserName currentUserName() noexcept {
  UserName name;
  std::memset(name.text, ' ', USER_NAME_CAPACITY);
  name.text[USER_NAME_CAPACITY] = '\0';
  // A value too long for the buffer counts as no value: the name stays the 255 spaces.
  if (platform::readEnvironment("USERNAME", name.text, USER_NAME_CAPACITY) >=
      USER_NAME_CAPACITY) {
    std::memset(name.text, ' ', USER_NAME_CAPACITY);
    name.text[USER_NAME_CAPACITY] = '\0';
  }
  return name;
}

void switchDisplayMode(std::int32_t width, std::int32_t height,
                       std::int32_t bitsPerPixel) noexcept {
  platform::changeDisplayMode(width, height, bitsPerPixel);
}

void applyCurrentUser() noexcept {
  const UserName name = currentUserName();
  const std::int32_t width = platform::primaryDisplayWidth();
  const std::int32_t height = platform::primaryDisplayHeight();
  if (const UserResolution* record = findUser(name.text)) {
    if (record->width != width || record->height != height) {
      switchDisplayMode(record->width, record->height, TARGET_BITS_PER_PIXEL);
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
  if (!loadComplete || !prefs::openPreferences(PREFERENCE_FILE)) {
    prefs::closePreferences();
    steady.known = false;
    return;
  }
  const prefs::ContentFingerprint file = prefs::openFingerprint();
  if (steadyFor(file)) {
    if (steady.writes) prefs::rewriteAsRead();
    prefs::closePreferences();
    return;
  }
  bool writes = false;
  for (std::uint32_t i = 0; i < table.count; ++i) {
    const UserResolution& record = table.records[i];
    if (!fitsGroupHeader(record.userName)) continue;
    writes = true;
    prefs::selectGroup(record.userName);
    prefs::writeLong(KEY_WIDTH, record.width);
    prefs::writeLong(KEY_HEIGHT, record.height);
  }
  prefs::closePreferences();
  prefs::ContentFingerprint written;
  const bool wrote = prefs::lastWriteBack(&written);
  steady.known = versionBeforeLoad == tableVersion && file == loadedFile &&
                 (writes ? wrote && written == file : !wrote);
  steady.file = file;
  steady.tableVersion = tableVersion;
  steady.writes = writes;
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

void clearUserTable() noexcept {
  for (std::uint32_t i = 0; i < table.count; ++i) platform::release(table.records[i].userName);
  platform::release(table.records);
  dropIndex();
  table = UserResolutionTable{};
  namesUnique = true;
  nextGuess = 0;
  loadComplete = true;
  steady = SteadyPass{};
}

void useUserIndex(bool enabled) noexcept {
  indexEnabled = enabled;
  if (enabled) {
    growIndex(0);
  } else {
    dropIndex();
  }
}

void useSteadyPasses(bool enabled) noexcept {
  steadyEnabled = enabled;
  steady = SteadyPass{};
}

}  // namespace keeper
