// The resolution keeper: the process-wide table of user resolutions and the three steps of
// each pass (load the preference file, apply the current user's resolution, save the table),
// run for ever with a wait after each pass.
#pragma once

#include <cstdint>

#include "product_facts.h"

namespace keeper {

// The wait after each pass.
inline constexpr std::uint32_t CYCLE_PERIOD_MS = 500;
// Data\Pref.txt below the current folder (the names are the product's, which the installers make
// too); Windows takes the forward slash as well.
inline constexpr char PREFERENCE_FILE[] = RESKEEPER_DATA_FOLDER "/" RESKEEPER_PREFERENCE_FILE;
// The values of a missing Res_X or Res_Y.
inline constexpr std::int32_t DEFAULT_WIDTH = 1024;
inline constexpr std::int32_t DEFAULT_HEIGHT = 768;
// The size of the user name buffer handed to the environment, its zero byte included.
inline constexpr std::uint32_t USER_NAME_CAPACITY = 255;
// The colour depth of every display switch.
inline constexpr std::int32_t TARGET_BITS_PER_PIXEL = 32;

// One user's stored resolution. The name is the record's own copy.
struct UserResolution {
  char* userName;
  std::int32_t width;
  std::int32_t height;
};

// The records in the order they were added; never shrinks, never reorders. Records change only
// through appendUser and the load step.
struct UserResolutionTable {
  UserResolution* records = nullptr;
  std::uint32_t count = 0;
  std::uint32_t capacity = 0;
};

// The first record whose name equals `name` byte for byte, or nullptr. The pointer is valid
// until the next append.
UserResolution* findUser(const char* name) noexcept;

// Adds a record with its own copy of `name` at the end of the table, without looking for an
// existing one. False, adding nothing, when memory cannot be had.
bool appendUser(const char* name, std::int32_t width, std::int32_t height) noexcept;

// The user name from USERNAME, read through a buffer of 255 spaces: the spaces themselves
// when the variable is not set or its value does not fit; the empty string for an empty value.
struct UserName {
  char text[USER_NAME_CAPACITY + 1];
};
UserName currentUserName() noexcept;

// Merges every named group of the preference file into the table; writes nothing.
void loadProfiles() noexcept;

// Switches the display to the current user's record when it differs from the screen, or
// records a first-time user with the screen's present size.
void applyCurrentUser() noexcept;

// Writes every record into its group of the preference file, if the file exists and the last
// load step read it whole.
void saveProfiles() noexcept;

// One pass: load, apply, save.
void runPass() noexcept;

// The program's life: passes with a wait after each, for ever.
[[noreturn]] void runKeeper() noexcept;

}  // namespace keeper
