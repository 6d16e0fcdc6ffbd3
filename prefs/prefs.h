// The preference store: one open preference file at a time, parsed in place into a list of
// group, comment and entry lines, read and written by group and key, and written back in
// normal form when it is closed after a write.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace prefs {

// What a line is. Group and Comment are also the markers stored in a line's kindOrKey.
enum class LineKind : std::uintptr_t { Group = 1, Comment = 2, Entry = 3 };

// One line of the document, in a doubly linked list in file order. Blank lines have none.
struct PreferenceLine {
  PreferenceLine* next;
  PreferenceLine* previous;
  // The marker of a Group or Comment line, or an Entry's key text.
  char* kindOrKey;
  // The group name, the comment text or the entry's value.
  char* text;
};

// The kind of `line`, told from its kindOrKey.
LineKind lineKind(const PreferenceLine& line) noexcept;

// The key of an Entry line; nullptr for other lines.
const char* lineKey(const PreferenceLine& line) noexcept;

struct ArenaBlock;
struct GroupIndex;

// A fingerprint of a file's bytes: equal bytes give equal fingerprints, and different bytes
// practically never do (their length and a 64-bit hash of them).
struct ContentFingerprint {
  std::int64_t length = -1;
  std::uint64_t hash = 0;
  bool operator==(const ContentFingerprint&) const = default;
};

// Storage that lives exactly as long as the open document: its lines, and the keys, values
// and group names that writes create. Released all at once when the document closes.
struct Arena {
  ArenaBlock* blocks = nullptr;
  char* cursor = nullptr;
  char* limit = nullptr;
};

// The one open preference file. Closed (all fields clear) when the process starts.
struct PreferenceDocument {
  platform::FileHandle file = platform::INVALID_FILE;  // open exactly when valid
  bool modified = false;
  char* content = nullptr;         // the bytes after the byte-order mark, then two zeros
  std::uint32_t contentLength = 0;
  std::int64_t fileLength = 0;     // the file's length when it was opened
  std::int32_t encoding = 0;       // 0 for ANSI, 65001 for UTF-8
  ContentFingerprint fingerprint;  // of the file's bytes as they were read
  bool parsed = false;             // lines are made at the first operation that needs them
  bool parseFailed = false;        // memory for the lines could not be had: nothing works
  bool rewriteAsRead = false;      // write the file's own bytes back when closing
  PreferenceLine* firstLine = nullptr;
  PreferenceLine* lastLine = nullptr;
  PreferenceLine* currentGroup = nullptr;  // nullptr: the lines before the first group
  char* pendingGroup = nullptr;            // a selected group name not in the file yet
  Arena arena;                             // lines and texts that are not in the content
  GroupIndex* groups = nullptr;            // headers by case-folded name; nullptr: walk
};

inline constexpr std::int32_t ENCODING_ANSI = 0;
inline constexpr std::int32_t ENCODING_UTF8 = 65001;

// The open document, for looking at (its lines parsed); the store alone changes it.
const PreferenceDocument& preferenceDocument() noexcept;

// Closes any open document (writing it back if modified), then opens and parses the existing
// file at `path`, for reading and writing or, failing that, for reading only. Gives false and
// leaves the document closed when the file cannot be opened or read whole, or memory for it
// cannot be had. Never creates a file.
bool openPreferences(const char* path) noexcept;

// Writes the open document back if it was modified, then releases it. A write-back never
// leaves the file shorter than its old content. Closing a closed document does nothing.
void closePreferences() noexcept;

// Starts an enumeration of the groups: back to the top level, pending group discarded.
// False when no document is open.
bool examineGroups() noexcept;

// Moves to the next group header after the current group (or the first one); false, keeping
// the current group, when there is none.
bool nextGroup() noexcept;

// A caller-owned copy of the current group's name as ANSI text: empty at the top level, on a
// closed document, or when a UTF-8 name cannot be given in ANSI. nullptr when memory for the
// copy cannot be had.
platform::Owned<char> currentGroupName() noexcept;

// Makes the first group whose name matches `name` (ASCII letters compared without case) the
// current group, or the top level for an empty name. When none matches, the name becomes the
// pending group, created by the next write, and the result is false.
bool selectGroup(const char* name) noexcept;

// The value text of the first entry `key` in the current group's section, or nullptr (also
// while a group is pending).
const char* findValue(const char* key) noexcept;

// Finds or creates entry `key` in the current group's section (creating a pending group
// first) and gives its value storage, room for `length` characters and a zero byte; marks the
// document modified. nullptr when no document is open or memory cannot be had.
char* reserveValue(const char* key, std::uint32_t length) noexcept;

// The value of `key` in the current group read as a decimal integer (leading blanks, a sign,
// digits up to the first other character; 0 without digits; saturated to the 32-bit range),
// or `defaultValue` when the key is absent.
std::int32_t readLong(const char* key, std::int32_t defaultValue) noexcept;

// Writes `value` in decimal as the value of `key` in the current group; dropped when memory
// cannot be had.
void writeLong(const char* key, std::int32_t value) noexcept;

// The fingerprint of the open document's file as it was read, or the empty fingerprint
// (length -1) when no document is open.
ContentFingerprint openFingerprint() noexcept;

// Has the open document, which no operation has looked into yet, written back as the very
// bytes that were read when it is closed: the normal form of a file already in normal form,
// without parsing it. False, changing nothing, when the document was parsed or is closed.
bool rewriteAsRead() noexcept;

// Whether the last closing wrote a document back (or tried to), and the fingerprint of the
// text it wrote. Cleared by every opening.
bool lastWriteBack(ContentFingerprint* text) noexcept;

// Test hook: with false, documents are opened without a group index and group selection walks
// the headers.
void useGroupIndex(bool enabled) noexcept;

}  // namespace prefs
