// Internals of the keeper shared by its source files: a table of user records with its name
// index, and everything the keeper keeps from pass to pass, in one record that a single
// assignment clears.
#pragma once

#include <cstdint>

#include "keeper/keeper.h"
#include "prefs/name_index.h"
#include "prefs/prefs.h"

namespace keeper {

// A table's records in a name index, by their exact names.
struct TableNames {
  using Item = std::uint32_t;  // a record's number
  static constexpr Item NONE = UINT32_MAX;
  static constexpr prefs::NameMatch MATCH = prefs::NameMatch::Exact;
  const UserResolutionTable* table = nullptr;
  const char* nameOf(Item record) const noexcept { return table->records[record].userName; }
};

// Records and the index of their first names. The index points at the records of the same
// table, so a table stays where it was made: it is neither copied nor moved.
struct UserTable {
  constexpr UserTable() noexcept { names.items.table = &records; }
  UserTable(const UserTable&) = delete;
  UserTable& operator=(const UserTable&) = delete;

  UserResolutionTable records;
  // The first record of each name; absent: lookups walk the records.
  prefs::NameIndex<TableNames> names;
  // Counts changes to the records: additions and loaded values that differ.
  std::uint64_t version = 0;
};

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

struct KeeperState {
  UserTable users;
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

// ---- Tables (table.cpp) ----

// The first record of `table` named `name` byte for byte, or nullptr; valid until the next
// addition.
UserResolution* findIn(UserTable& table, const char* name) noexcept;

// findIn, trying record `expected` first: a caller that meets the names in table order finds
// each without the index.
UserResolution* findExpecting(UserTable& table, const char* name, std::uint32_t expected) noexcept;

// Adds a record with its own copy of `name` at the end of `table`. False, adding nothing,
// when memory cannot be had.
bool appendTo(UserTable& table, const char* name, std::int32_t width, std::int32_t height) noexcept;

// Makes the index of `table` anew from its records; absent when memory cannot be had or the
// index is switched off.
void rebuildIndex(UserTable& table) noexcept;

// Releases every record of `table` and its index; the table is empty afterwards.
void releaseTable(UserTable& table) noexcept;

// Hands the records of `table` over to the caller, who releases them (each name, then the
// array); the table is empty afterwards.
UserResolutionTable takeRecords(UserTable& table) noexcept;

// ---- Steady passes (steady_pass.cpp) ----

// The load step, just after opening the file (whether or not that worked): whether the file
// holds the bytes the last steady pass left, so that the step can close it without merging.
bool loadIsSteady() noexcept;

// The save step, just after opening the file: when file and table are as the last steady pass
// left them, closes the file as that pass did, writing back the very bytes that were read if it
// wrote the file at all, and gives true; otherwise gives false and leaves the file open.
bool closeIfSteady() noexcept;

// The save step, after closing the file it wrote the table into (`writes`: whether there was
// any record to write): learns whether this pass changed nothing.
void learnFromSave(bool writes) noexcept;

// Forgets the last steady pass: the next pass does all its work.
void forgetSteadyPass() noexcept;

}  // namespace keeper
