// The user table: records in the order they were added, and a name index over them so that a
// lookup costs the same however many users the table holds.
#include <cstring>

#include "keeper/keeper_testing.h"
#include "keeper/state.h"
#include "platform/platform.h"

namespace keeper {
namespace {

KeeperState state;
KeeperSettings settings;

}  // namespace

const char* TableNames::nameOf(Item record) noexcept {
  return state.table.records[record].userName;
}

KeeperState& keeperState() noexcept {
  return state;
}
KeeperSettings& keeperSettings() noexcept {
  return settings;
}

void rebuildUserIndex() noexcept {
  state.names.release();
  if (!settings.userIndex || !state.names.make(state.table.count)) return;
  for (std::uint32_t i = 0; i < state.table.count; ++i) state.names.add(i);  // the first stays
}

UserResolution* findUser(const char* name) noexcept {
  UserResolutionTable& table = state.table;
  if (state.names.isPresent()) {
    const std::uint32_t number = state.names.find(name);
    return number != TableNames::NONE ? &table.records[number] : nullptr;
  }
  for (std::uint32_t i = 0; i < table.count; ++i) {
    if (std::strcmp(table.records[i].userName, name) == 0) return &table.records[i];
  }
  return nullptr;
}

UserResolution* findUserExpecting(const char* name, std::uint32_t expected) noexcept {
  // With the index, a table where no name repeats holds one record per name, so a record that
  // matches is the first of its name.
  const UserResolutionTable& table = state.table;
  if (state.names.isPresent() && state.names.unique && expected < table.count &&
      std::strcmp(table.records[expected].userName, name) == 0) {
    return &table.records[expected];
  }
  return findUser(name);
}

bool appendUser(const char* name, std::int32_t width, std::int32_t height) noexcept {
  UserResolutionTable& table = state.table;
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
  table.records[table.count++] = UserResolution{copy, width, height};
  ++state.tableVersion;
  // An index that could not be had, or could not grow, is made anew at the next addition.
  if (!state.names.isPresent()) {
    rebuildUserIndex();
  } else {
    state.names.add(table.count - 1);
  }
  return true;
}

const UserResolutionTable& users() noexcept {
  return state.table;
}

void clearUserTable() noexcept {
  for (std::uint32_t i = 0; i < state.table.count; ++i) {
    platform::release(state.table.records[i].userName);
  }
  platform::release(state.table.records);
  state.names.release();
  state = KeeperState{};
}

void useUserIndex(bool enabled) noexcept {
  settings.userIndex = enabled;
  rebuildUserIndex();
}

void useSteadyPasses(bool enabled) noexcept {
  settings.steadyPasses = enabled;
  forgetSteadyPass();
}

}  // namespace keeper
