// Internals of the keeper shared by its source files: everything it keeps from pass to pass,
// in one record that a single assignment clears.
#pragma once

#include <cstdint>

#include "keeper/keeper.h"
#include "prefs/name_index.h"
#include "prefs/prefs.h"

namespace keeper {

// What the keeper knows of the last pass that changed nothing (see steady_pass.cpp).
struct SteadyPass {
  bool known = false;
  prefs::Fingerprint file;         // the bytes the file held
  std::uint64_t tableVersion = 0;  // the table it held them for
  bool writes = false;             // whether the save step writes the file back
  // What the present pass's load step saw.
  std::uint64_t versionAtLoad = 0;
  prefs::Fingerprint loadedFile;
};

// The table's records in a name index, by their exact names.
struct TableNames {
  using Item = std::uint32_t;  // a record's number
  static constexpr Item NONE = UINT32_MAX;
  static constexpr prefs::NameMatch MATCH = prefs::NameMatch::Exact;
  static const char* nameOf(Item record) noexcept;
};

struct KeeperState {
  UserResolutionTable table;
  // The first record of each name; absent: lookups walk the table.
  prefs::NameIndex<TableNames> names;
  // Counts changes to the table's records: additions and loaded values that differ.
  std::uint64_t tableVersion = 0;
  // Whether the last load step merged the whole file into the table (see saveProfiles).
  bool loadComplete = true;
  SteadyPass steady;
};

// Switches for tests; the program runs with both on.
struct KeeperSettings {
  bool userIndex = true;
  bool steadyPasses = true;
};

KeeperState& keeperState() noexcept;
KeeperSettings& keeperSettings() noexcept;

// findUser, trying record `expected` first: a caller that meets the names in table order finds
// each without the index.
UserResolution* findUserExpecting(const char* name, std::uint32_t expected) noexcept;

// Makes the table's name index anew from its records; absent when memory cannot be had or the
// index is switched off.
void rebuildUserIndex() noexcept;

// ---- Steady passes (steady_pass.cpp) ----

// The load step, just after opening the file (whether or not that worked): whether the file
// holds the bytes the last steady pass left, so that the step can close it without merging.
bool loadIsSteady() noexcept;

// The save step, just after opening the file: whether file and table are as the last steady
// pass left them; when they are, the file is set to be written back as it was read, if the
// steady pass wrote it at all, and the step closes it without writing the table.
bool saveIsSteady() noexcept;

// The save step, after closing the file it wrote the table into (`writes`: whether there was
// any record to write): learns whether this pass changed nothing.
void learnFromSave(bool writes) noexcept;

// Forgets the last steady pass: the next pass does all its work.
void forgetSteadyPass() noexcept;

}  // namespace keeper
