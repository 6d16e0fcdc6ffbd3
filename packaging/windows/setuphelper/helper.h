// What the parts of the package's helper (setuphelper.exe) share: its exit codes, its words to
// the administrator, and the folders and files it opens, each by itself, to examine and to make.
#pragma once

#include <windows.h>

#include "product_facts.h"

namespace helper {

// The exit codes (product_facts.h; docs/windows.md lists them).
enum Result : int {
  OK = RESKEEPER_EXIT_OK,
  FAILED = RESKEEPER_EXIT_FAILED,  // could not be examined or made
  LINK = RESKEEPER_EXIT_REFUSED_LINK,
  OWNER = RESKEEPER_EXIT_REFUSED_OWNER,
  HARD_LINKS = RESKEEPER_EXIT_REFUSED_HARD_LINKS,
  KIND = RESKEEPER_EXIT_REFUSED_KIND,
  CHANGEABLE = RESKEEPER_EXIT_REFUSED_CHANGEABLE,
  HELD = RESKEEPER_EXIT_REFUSED_HELD,
  OWN_FOLDER = RESKEEPER_EXIT_REFUSED_OWN_FOLDER,
};

// The longest path the helper holds, its zero included; a longer one is refused (FAILED).
inline constexpr DWORD PATH_CAPACITY = 1024;

// Writes "PATH: TEXT" as a line for the administrator to standard output (UTF-16) and, as a
// warning of the source "reskeeper", to the Application event log.
void say(const wchar_t* path, const wchar_t* text) noexcept;

// A folder or file opened itself (never what it points to), for as long as it lives.
struct Held {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool made = false;  // made by this open, with its final rights
  wchar_t path[PATH_CAPACITY] = L"";
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held();
};

// What is wanted at a path: a folder or a file, and whether it is made with `rights` (SDDL)
// when nothing is there. Only access that no one else's open can refuse is asked for: reading
// the object's rights and attributes, and changing its rights.
struct Wanted {
  bool folder;
  const wchar_t* rights;  // made with these when missing; nullptr: never made
};

// Opens `path` (a full path below a local drive's root), made as `wanted` says when nothing is
// there, and makes sure it is reached by that very path, through no link or junction. OK, or
// FAILED with nothing there (held->handle invalid), or the refusal said on stdout.
Result holdPath(const wchar_t* path, Wanted wanted, Held* held) noexcept;
// The same for `name` in the folder held in `parent`, opened through that handle.
Result holdChild(const Held& parent, const wchar_t* name, Wanted wanted, Held* held) noexcept;

// Whether nothing was there to open (and nothing was made).
inline bool absent(const Held& held) noexcept {
  return held.handle == INVALID_HANDLE_VALUE;
}

// What is held, as `wanted` says it should be and the account this helper runs as may rely on
// it: not a link, of the kind wanted, a file with no other name, owned by a trusted account and
// with rights that let no one else make the changes `changes` (platform/trust.h). OK, or the
// refusal said on stdout. What the helper made itself is its own.
Result examine(const Held& held, Wanted wanted, DWORD changes) noexcept;

// Whether the held object's rights are the SDDL `rights`' (its DACL's entries, in order).
bool hasRights(const Held& held, const wchar_t* rights) noexcept;
// Gives the held object the DACL of the SDDL `rights`; FAILED (said) when it cannot.
Result setRights(const Held& held, const wchar_t* rights) noexcept;

// The verbs (shared.cpp).
Result prepareShared(const wchar_t* folder) noexcept;
Result closeShared(const wchar_t* folder) noexcept;

}  // namespace helper
