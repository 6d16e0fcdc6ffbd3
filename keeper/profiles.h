// What the preference file means, for the programs beside the keeper (reskeeperctl, reskeeper
// Settings, the Windows session starter): the records the keeper would load from a file, and a
// user's size stored so that the keeper keeps it. Each operation takes the file's path and
// gives its result as a value; none touches the keeper's own table or the process's current
// folder. They work through the store's one document, so one thread at a time calls them.
#pragma once

#include <cstdint>

#include "keeper/keeper.h"
#include "prefs/encoding.h"

namespace keeper {

using FileEncoding = prefs::Encoding;

enum class LoadStatus {
  Loaded,      // every named group was merged
  NotOpened,   // the file could not be opened and read whole: missing, not a regular file,
               // not readable, held by another program, or no memory for its content
  Incomplete,  // opened, but memory ran out before every group was merged
};

// The records a freshly started keeper would load from a file, in its table order, each name
// the record's own copy. Owns them; moves, never copies.
struct LoadedProfiles {
  LoadStatus status = LoadStatus::NotOpened;
  FileEncoding encoding = FileEncoding::Ansi;
  UserResolutionTable table;

  LoadedProfiles() noexcept = default;
  LoadedProfiles(LoadedProfiles&& other) noexcept;
  LoadedProfiles& operator=(LoadedProfiles&& other) noexcept;
  ~LoadedProfiles();
};

// Loads the file at `path` as the keeper's load step merges it into an empty table.
LoadedProfiles loadProfilesAt(const char* path) noexcept;

// The first record of `profiles` named `name` byte for byte, as the keeper looks users up; or
// nullptr.
const UserResolution* findProfile(const LoadedProfiles& profiles, const char* name) noexcept;

// Whether the keeper can keep a size for `name`: a name that is empty (saved where it is never
// read back) or that holds ']', CR or LF (which a group header cannot hold, so that it would
// read back as another name) is never given one.
bool canKeepSizeFor(const char* name) noexcept;

enum class StoreStatus {
  Stored,      // written back whole
  NotOpened,   // as LoadStatus::NotOpened; nothing changed
  NotWritten,  // opened, but the write-back did not reach the file whole (a file this user
               // may only read, a failed write); the file keeps its old content
  NotKept,     // a name canKeepSizeFor refuses; nothing changed
  NoMemory,    // memory ran out before the size was in every group; nothing changed
};

// Stores `width` x `height` for `name` in the file at `path` so that the keeper keeps it: the
// keeper loads a user's record from the last group named exactly like the user and saves each
// record into the first group whose name matches ignoring ASCII case, so the size goes into
// every group whose name matches ignoring ASCII case, and into a new group named exactly
// `name` at the end when none is. Every other line stays, in the file's normal form.
StoreStatus storeUserSize(const char* path, const char* name, std::int32_t width,
                          std::int32_t height) noexcept;

}  // namespace keeper
