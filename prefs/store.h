// Internals shared by the store's source files: the document and its lines, the arena their
// storage comes from, and the steps of opening, parsing and writing back that the operations of
// prefs.h are made of.
#pragma once

#include <cstddef>
#include <cstdint>

#include "prefs/encoding.h"
#include "prefs/name_index.h"
#include "prefs/prefs.h"

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

// Markers stored in kindOrKey for the two kinds of line that have no key.
inline char* groupMarker() noexcept {
  return reinterpret_cast<char*>(static_cast<std::uintptr_t>(LineKind::Group));
}
inline char* commentMarker() noexcept {
  return reinterpret_cast<char*>(static_cast<std::uintptr_t>(LineKind::Comment));
}
inline bool isGroup(const PreferenceLine* line) noexcept {
  return line->kindOrKey == groupMarker();
}

// Storage that lives exactly as long as the open document: its lines, and the keys, values
// and group names that writes create. Released all at once when the document closes.
struct ArenaBlock;
struct Arena {
  ArenaBlock* blocks = nullptr;
  char* cursor = nullptr;
  char* limit = nullptr;
};

// The document's group headers in a name index, by their names ignoring ASCII case.
struct GroupHeaders {
  using Item = PreferenceLine*;
  static constexpr Item NONE = nullptr;
  static constexpr NameMatch MATCH = NameMatch::IgnoreAsciiCase;
  const char* nameOf(Item header) const noexcept { return header->text; }
};

// Lines are made at the first operation that needs them, so that a document only opened and
// closed (or rewritten as read) is never parsed.
enum class Lines { Unparsed, Parsed, NoMemory };

// The one open preference file. Closed (all fields clear) when the process starts, and cleared
// by one assignment whenever it closes.
struct PreferenceDocument {
  platform::FileHandle file = platform::INVALID_FILE;  // open exactly when valid
  bool modified = false;
  char* content = nullptr;  // the bytes after the byte-order mark, then two zeros
  std::uint32_t contentLength = 0;
  std::int64_t fileLength = 0;  // the file's length when it was opened
  Encoding encoding = Encoding::Ansi;
  Lines lines = Lines::Unparsed;
  PreferenceLine* firstLine = nullptr;
  PreferenceLine* lastLine = nullptr;
  PreferenceLine* currentGroup = nullptr;  // nullptr: the lines before the first group
  // A selected group name not in the file yet: reads find nothing while one is pending. When
  // its name could not be stored, `pendingGroup` is nullptr and writes are dropped too.
  bool groupPending = false;
  char* pendingGroup = nullptr;
  Arena arena;  // lines and texts that are not in the content
  // The first header of each name, made at the first selection (a document that is only
  // enumerated never needs it); absent when memory could not be had, and selection then walks.
  NameIndex<GroupHeaders> groups;
  bool groupsTried = false;
  std::uint32_t headerCount = 0;
};

PreferenceDocument& document() noexcept;

// The file trace that fileTrace() shows, for the store's own sources to record in.
FileTrace& recordedTrace() noexcept;

inline bool isOpen() noexcept {
  return document().file != platform::INVALID_FILE;
}

// Parses the open document's content into lines if that has not been done; false when it
// cannot be (no document, or no memory for the lines, after which the document stays useless).
bool ensureParsed() noexcept;

// An open document whose lines can be worked on.
inline bool isUsable() noexcept {
  return isOpen() && ensureParsed();
}

// ---- Arena (arena.cpp) ----

// Takes a new block for `size` bytes (already rounded) and gives them from it; nullptr when
// none can be had. `expected` hints how much more is likely to follow, so that one block can
// take it all.
void* arenaAllocateFromNewBlock(Arena& arena, std::size_t size, std::size_t expected) noexcept;

// Memory from the arena, aligned for a pointer; nullptr when none can be had.
inline void* arenaAllocate(Arena& arena, std::size_t size, std::size_t expected = 0) noexcept {
  constexpr std::size_t ALIGN = alignof(void*);
  size = ((size == 0 ? 1 : size) + ALIGN - 1) & ~(ALIGN - 1);
  if (arena.cursor == nullptr || static_cast<std::size_t>(arena.limit - arena.cursor) < size) {
    return arenaAllocateFromNewBlock(arena, size, expected);
  }
  void* memory = arena.cursor;
  arena.cursor += size;
  return memory;
}

void arenaRelease(Arena& arena) noexcept;

// A copy of `length` bytes of `text` and a zero byte in the arena, or nullptr.
char* arenaCopy(Arena& arena, const char* text, std::size_t length) noexcept;

// ---- Lines ----

// Inserts `line` after `after` (nullptr: at the very start), or appends it after the last line.
inline void linkAfter(PreferenceDocument& doc, PreferenceLine* after,
                      PreferenceLine* line) noexcept {
  PreferenceLine* next = after != nullptr ? after->next : doc.firstLine;
  line->previous = after;
  line->next = next;
  if (after != nullptr) {
    after->next = line;
  } else {
    doc.firstLine = line;
  }
  if (next != nullptr) {
    next->previous = line;
  } else {
    doc.lastLine = line;
  }
}

// Names and keys of the document compare ignoring the case of A-Z only.
inline bool namesEqual(const char* a, const char* b) noexcept {
  return namesMatch(a, b, NameMatch::IgnoreAsciiCase);
}

// A fingerprint of `length` bytes.
Fingerprint fingerprintOf(const char* bytes, std::size_t length) noexcept;

// ---- Parsing (parser.cpp) ----

// Parses the open document's content into lines, ending each piece in place with a zero byte,
// and counts its headers. False when memory for the lines cannot be had.
bool parseContent() noexcept;

// ---- Group index (group_index.cpp) ----

// The first header named `name` (already in the file's encoding), or nullptr.
PreferenceLine* findGroupHeader(const char* name) noexcept;

// Records a header just appended as the last line of the document.
void indexNewGroup(PreferenceLine* header) noexcept;

// ---- Values (access.cpp) ----

// The value text of the first entry `key` in the current group's section, or nullptr (also
// while a group is pending).
const char* findValue(const char* key) noexcept;

// Finds or creates entry `key` in the current group's section (creating a pending group
// first) and gives its value storage, room for `length` characters and a zero byte; marks the
// document modified. nullptr when no document is open or memory cannot be had.
char* reserveValue(const char* key, std::uint32_t length) noexcept;

// ---- Write-back (writeback.cpp) ----

// The bytes before the content in its buffer: room for a UTF-8 file's byte-order mark, so that
// the normal form of a file already in it fits exactly over the bytes it was parsed from.
inline std::size_t contentHeadroom(const PreferenceDocument& doc) noexcept {
  return doc.encoding == Encoding::Utf8 ? 3 : 0;
}
inline char* contentBuffer(const PreferenceDocument& doc) noexcept {
  return doc.content - contentHeadroom(doc);
}

// Writes the normal form of the document's lines over its file.
void writeBack() noexcept;

// Writes `length` bytes of `text` over the file, its buffer holding at least the file's old
// length, and records them in the file trace as written.
void writeText(char* text, std::int64_t length, const Fingerprint& fingerprint) noexcept;

}  // namespace prefs
