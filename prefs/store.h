// Internals shared by the store's source files: the document instance, its arena, the group
// index and the name comparison rules.
#pragma once

#include <cstddef>
#include <cstdint>

#include "prefs/prefs.h"

namespace prefs::detail {

PreferenceDocument& document() noexcept;

inline bool isOpen() noexcept { return document().file != platform::INVALID_FILE; }

// Parses the open document's content into lines if that has not been done; false when it
// cannot be (no document, or no memory for the lines, after which the document stays useless).
bool ensureParsed() noexcept;

// An open document whose lines can be worked on.
inline bool isUsable() noexcept { return isOpen() && ensureParsed(); }

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

// Memory from the document's arena, aligned for a pointer; nullptr when none can be had.
// `expected` hints how much more is likely to follow, so that one block can take it all.
void* arenaAllocate(Arena& arena, std::size_t size, std::size_t expected = 0) noexcept;
void arenaRelease(Arena& arena) noexcept;

// A copy of `length` bytes of `text` and a zero byte in the arena, or nullptr.
char* arenaCopy(Arena& arena, const char* text, std::size_t length) noexcept;

// Names compare ignoring the case of A-Z only; every other byte must be equal, so that the
// result never depends on a locale or on how a UTF-8 name's bytes would fold.
inline unsigned char foldAscii(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}
bool namesEqual(const char* a, const char* b) noexcept;

// The first header of each case-folded name, for selecting a group without walking the file.
// Every operation keeps the document correct without it: when it cannot be had, or cannot
// grow, it is dropped and selection walks the headers.
// Prepares the index of a document just opened with `headerCount` headers; it is built at the
// first lookup.
void prepareGroupIndex(std::uint32_t headerCount) noexcept;
void releaseGroupIndex() noexcept;
// The first header named `name` (already in the file's encoding), or nullptr.
PreferenceLine* findGroupHeader(const char* name) noexcept;
// A fingerprint of `length` bytes.
ContentFingerprint fingerprintOf(const char* bytes, std::size_t length) noexcept;

// Records a header just appended as the last line of the document.
void indexNewGroup(PreferenceLine* header) noexcept;

// Appends a line after the document's last line, or inserts it after `after` (nullptr: at the
// very start).
void linkAfter(PreferenceLine* after, PreferenceLine* line) noexcept;

}  // namespace prefs::detail
