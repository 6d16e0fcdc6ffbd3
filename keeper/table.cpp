// User tables: records in the order they were added, and a name index over them so that a
// lookup costs the same however many users a table holds. The keeper's own table lives for the
// whole process; the programs beside it load tables of their own (profiles.h).
#include <cstring>

#include "keeper/keeper_testing.h"
#include "keeper/state.h"
#include "platform/platform.h"

namespace keeper {
namespace {

constinit KeeperState state;
KeeperSettings settings;

}  // namespace

KeeperState& keeperState() noexcept {
  return state;
}
KeeperSettings& keeperSettings() noexcept {
  return settings;
}

void rebuildIndex(UserTable& table) noexcept {
  table.names.release();
  if (!settings.userIndex || !table.names.make(table.records.count)) return;
  for (std::uint32_t i = 0; i < table.records.count; ++i) table.names.add(i);  // the first stays
}

UserResolution* findIn(UserTable& table, const char* name) noexcept {
  UserResolutionTable& records = table.records;
  if (table.names.isPresent()) {
    const std::uint32_t number = table.names.find(name);
    return number != TableNames::NONE ? &records.records[number] : nullptr;
  }
  for (std::uint32_t i = 0; i < records.count; ++i) {
    if (std::strcmp(records.records[i].userName, name) == 0) return &records.records[i];
  }
  return nullptr;
}

UserResolution* findExpecting(UserTable& table, const char* name, std::uint32_t expected) noexcept {
  // With the index, a table where no name repeats holds one record per name, so a record that
  // matches is the first of its name.
  const UserResolutionTable& records = table.records;
  if (table.names.isPresent() && table.names.unique && expected < records.count &&
      std::strcmp(records.records[expected].userName, name) == 0) {
    return &records.records[expected];
  }
  return findIn(table, name);
}

bool appendTo(UserTable& table, const char* name, std::int32_t width,
              std::int32_t height) noexcept {
  UserResolutionTable& records = table.records;
  if (records.count == UINT32_MAX - 1) return false;
  if (records.count == records.capacity) {
    const std::uint64_t capacity = records.capacity == 0 ? 16 : 2 * std::uint64_t{records.capacity};
    if (capacity > UINT32_MAX - 1) return false;
    auto* grown = platform::allocateArray<UserResolution>(capacity);
    if (grown == nullptr) return false;
    if (records.count > 0) std::memcpy(grown, records.records, records.count * sizeof *grown);
    platform::release(records.records);
    records.records = grown;
    records.capacity = static_cast<std::uint32_t>(capacity);
  }
  const std::size_t length = std::strlen(name);
  char* copy = platform::allocateArray<char>(length + 1);
  if (copy == nullptr) return false;
  std::memcpy(copy, name, length + 1);
  records.records[records.count++] = UserResolution{copy, width, height};
  ++table.version;
  // An index that could not be had, or could not grow, is made anew at the next addition.
  if (!table.names.isPresent()) {
    rebuildIndex(table);
  } else {
    table.names.add(records.count - 1);
  }
  return true;
}

void releaseTable(UserTable& table) noexcept {
  for (std::uint32_t i = 0; i < table.records.count; ++i) {
    platform::release(table.records.records[i].userName);
  }
  platform::release(table.records.records);
  table.names.release();
  table.records = UserResolutionTable{};
  table.version = 0;
}

UserResolutionTable takeRecords(UserTable& table) noexcept {
  const UserResolutionTable taken = table.records;
  table.names.release();
  table.records = UserResolutionTable{};
  return taken;
}

UserResolution* findUser(const char* name) noexcept {
  return findIn(state.users, name);
}

bool appendUser(const char* name, std::int32_t width, std::int32_t height) noexcept {
  return appendTo(state.users, name, width, height);
}

void clearUserTable() noexcept {
  releaseTable(state.users);
  state.loadComplete = true;
  state.steady = SteadyPass{};
}

void useUserIndex(bool enabled) noexcept {
  settings.userIndex = enabled;
  rebuildIndex(state.users);
}

void useSteadyPasses(bool enabled) noexcept {
  settings.steadyPasses = enabled;
  forgetSteadyPass();
}

}  // namespace keeper
