// Test hooks of the keeper, for its tests and benchmarks only: the table itself, switches for its
// index and for steady passes, and a reset of everything the keeper keeps between passes.
#pragma once

#include "keeper/state.h"

namespace keeper {

// The process's table.
inline UserResolutionTable& userTable() noexcept {
  return keeperState().users.records;
}

// Releases every record and clears everything kept between passes, so that the next load step
// fills the table as a freshly started keeper's would.
void clearUserTable() noexcept;

// With false, the table keeps no index and lookups walk the records.
void useUserIndex(bool enabled) noexcept;

// With false, every pass parses the file, even when the last one changed nothing.
void useSteadyPasses(bool enabled) noexcept;

// An empty table, with its index and steady passes on; put back so when it goes out of scope.
class ScopedKeeperDefaults {
 public:
  ScopedKeeperDefaults() noexcept { reset(); }
  ~ScopedKeeperDefaults() { reset(); }
  ScopedKeeperDefaults(const ScopedKeeperDefaults&) = delete;
  ScopedKeeperDefaults& operator=(const ScopedKeeperDefaults&) = delete;

  // Puts the defaults back now.
  static void reset() noexcept {
    clearUserTable();
    useUserIndex(/*enabled=*/true);
    useSteadyPasses(/*enabled=*/true);
  }
};

}  // namespace keeper
