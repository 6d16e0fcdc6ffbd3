// The preference store: one open preference file at a time, read and written by group and key
// with integer values, and written back in normal form when it is closed after a write. Group
// names and keys are ANSI text; the store converts them at its boundary with a UTF-8 file.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace prefs {

// ---- The document ----

// Closes any open document (writing it back if modified), then opens and parses the existing
// file at `path`, for reading and writing or, failing that, for reading only. Gives false and
// leaves the document closed when the file cannot be opened or read whole, or memory for it
// cannot be had. Never creates a file.
bool openPreferences(const char* path) noexcept;

// Writes the open document back if it was modified, then releases it. A write-back never
// leaves the file shorter than its old content. Closing a closed document does nothing.
void closePreferences() noexcept;

// Releases the open document without writing it back, whatever was written into it: the file
// keeps its bytes. Discarding a closed document does nothing.
void discardPreferences() noexcept;

// ---- Groups and keys ----
// A group's section is the run of lines after its header up to the next header; with no current
// group, the lines before the first header. Names and keys compare ignoring the case of A-Z
// only. On a closed document every operation does nothing and reports failure.

// Starts an enumeration of the groups: back to the top level, pending group discarded.
bool examineGroups() noexcept;

// Moves to the next group header after the current group (or the first one); false, keeping
// the current group, when there is none.
bool nextGroup() noexcept;

// A caller-owned copy of the current group's name as ANSI text: empty at the top level, on a
// closed document, or when a UTF-8 name cannot be given in ANSI. nullptr when memory for the
// copy cannot be had.
platform::Owned<char> currentGroupName() noexcept;

// Makes the first group whose name matches `name` the current group, or the top level for an
// empty name. When none matches, the name becomes the pending group, created at the end of the
// file by the next write; reads find nothing while it is pending, and the result is false.
bool selectGroup(const char* name) noexcept;

// Adds a group header named `name` as the last line of the document, even when a group whose
// name matches it ignoring case exists already, and makes it the current group; the document is
// then modified. The name is converted for a UTF-8 file as selectGroup converts it. False,
// changing nothing, on a closed document, for the empty name, or when memory cannot be had.
bool appendGroup(const char* name) noexcept;

// Whether the open document is a UTF-8 file (it began with a byte-order mark); false when it
// is an ANSI file or no document is open.
bool isUtf8Document() noexcept;

// The value of `key` in the current group's section read as a decimal integer (leading blanks,
// a sign, digits up to the first other character; 0 without digits; saturated to the 32-bit
// range), or `defaultValue` when the key is absent.
std::int32_t readLong(const char* key, std::int32_t defaultValue) noexcept;

// Writes `value` in decimal as the value of `key` in the current group's section, adding the
// entry at the section's end when it is absent, and marks the document modified. False when
// the write was dropped: no document open, a pending group whose name was lost, or no memory.
bool writeLong(const char* key, std::int32_t value) noexcept;

// ---- Files a caller has seen before ----

// A fingerprint of a file's bytes: equal bytes give equal fingerprints, and different bytes
// practically never do (their length and a 64-bit hash of them). Length -1: no bytes.
struct Fingerprint {
  std::int64_t length = -1;
  std::uint64_t hash = 0;
  bool operator==(const Fingerprint&) const = default;
};

// What the store tells a caller that skips work when a file holds bytes it has seen before,
// keeping only fingerprints, never content. Cleared by every opening.
struct FileTrace {
  Fingerprint opened;         // the bytes the open (or last) document was read from
  Fingerprint written;        // the text the last closing wrote back, or tried to
  bool writtenWhole = false;  // that text reached the file whole
};
const FileTrace& fileTrace() noexcept;

// Closes the open document, writing it back whether or not it was modified: a document no
// operation has looked into (none has parsed it) as the very bytes that were read, unparsed,
// for a caller that knows them to be the file's normal form; any other in its normal form (one
// whose lines could not be made, not at all). Closing a closed document does nothing.
void closePreferencesRewritingAsRead() noexcept;

}  // namespace prefs
