// Group and key access on the open document: enumerating and selecting groups, and reading
// and writing integer values. Names passed in are ANSI text; in a UTF-8 document they are
// converted to UTF-8 before they meet the file's text, and group names handed out are
// converted back.
#include <climits>
#include <cstring>

#include "prefs/store.h"
#include "prefs/textconv.h"

namespace prefs {
namespace {

// A name in the file's encoding: as given in an ANSI document, converted to UTF-8 in a UTF-8
// one. `text` is nullptr when memory for the conversion cannot be had.
struct FileName {
  char local[1024];
  platform::Owned<char> heap;
  const char* text = nullptr;
  std::size_t length = 0;
};

void toFileName(const char* name, FileName& out) {
  const std::size_t length = std::strlen(name);
  if (document().encoding != Encoding::Utf8) {
    out.text = name;
    out.length = length;
    return;
  }
  if (length > (UINT32_MAX - 1) / 4) return;
  std::uint32_t capacity = static_cast<std::uint32_t>(length) * 4;  // never runs out
  char* buffer = out.local;
  if (capacity + 1 > sizeof out.local) {
    out.heap.reset(platform::allocateArray<char>(capacity + 1));
    if (!out.heap) return;
    buffer = out.heap.get();
  }
  auto consumed = static_cast<std::uint32_t>(length);
  latin1ToUtf8(reinterpret_cast<unsigned char*>(buffer), &capacity,
               reinterpret_cast<const unsigned char*>(name), &consumed);
  buffer[capacity] = '\0';
  out.text = buffer;
  out.length = capacity;
}

// The first line of the current group's section.
PreferenceLine* sectionStart() {
  const PreferenceDocument& doc = document();
  return doc.currentGroup != nullptr ? doc.currentGroup->next : doc.firstLine;
}

PreferenceLine* findEntry(const char* fileKey) {
  for (PreferenceLine* line = sectionStart(); line != nullptr && !isGroup(line);
       line = line->next) {
    if (lineKind(*line) == LineKind::Entry && namesEqual(line->kindOrKey, fileKey)) return line;
  }
  return nullptr;
}

// The line after which a new entry of the current section goes: its last line, the header of
// an empty group, or nullptr for the very start of the document.
PreferenceLine* sectionEnd() {
  PreferenceDocument& doc = document();
  PreferenceLine* after = doc.currentGroup;
  PreferenceLine* line = sectionStart();
  for (; line != nullptr && !isGroup(line); line = line->next) after = line;
  return after;
}

// Discards the pending group, if any.
void clearPending(PreferenceDocument& doc) {
  doc.groupPending = false;
  doc.pendingGroup = nullptr;
}

// Makes `name` (nullptr: one that could not be stored) the pending group. A pending name whose
// storage is lost still keeps reads from finding anything, and drops writes until the next
// selection, so that no value lands in another user's group.
void setPending(PreferenceDocument& doc, char* name) {
  doc.groupPending = true;
  doc.pendingGroup = name;
}

// Turns the pending name into a header at the very end of the document. False when memory
// for the line cannot be had; the name then stays pending.
bool createPendingGroup() {
  PreferenceDocument& doc = document();
  auto* header = static_cast<PreferenceLine*>(arenaAllocate(doc.arena, sizeof(PreferenceLine)));
  if (header == nullptr) return false;
  header->kindOrKey = groupMarker();
  header->text = doc.pendingGroup;  // the header takes over the name's storage
  linkAfter(doc, doc.lastLine, header);
  doc.currentGroup = header;
  clearPending(doc);
  indexNewGroup(header);
  return true;
}

// Formats `value` as "%d" into `out` (room for 12 bytes); gives the length.
std::uint32_t formatDecimal(std::int32_t value, char* out) {
  char digits[11];
  std::uint32_t count = 0;
  std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::uint32_t length = 0;
  if (value < 0) out[length++] = '-';
  while (count > 0) out[length++] = digits[--count];
  out[length] = '\0';
  return length;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads text as the runtime's atoi does, saturating outside the 32-bit range.
std::int32_t parseDecimal(const char* text) {
  while (isSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
  std::int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > limit) {
      magnitude = limit;
      break;
    }
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace

bool examineGroups() noexcept {
  if (!isUsable()) return false;
  document().currentGroup = nullptr;
  clearPending(document());
  return true;
}

bool nextGroup() noexcept {
  if (!isUsable()) return false;
  PreferenceDocument& doc = document();
  PreferenceLine* line = doc.currentGroup != nullptr ? doc.currentGroup->next : doc.firstLine;
  while (line != nullptr && !isGroup(line)) line = line->next;
  if (line == nullptr) return false;
  doc.currentGroup = line;
  return true;
}

platform::Owned<char> currentGroupName() noexcept {
  const PreferenceDocument& doc = document();
  const char* name = isOpen() && doc.currentGroup != nullptr ? doc.currentGroup->text : "";
  const std::size_t length = std::strlen(name);
  platform::Owned<char> copy(platform::allocateArray<char>(length + 1));
  if (!copy) return copy;
  if (doc.encoding != Encoding::Utf8 || length == 0) {
    std::memcpy(copy.get(), name, length + 1);
    return copy;
  }
  // Latin-1 never needs more bytes than UTF-8, so the conversion cannot run out of room.
  auto capacity = static_cast<std::uint32_t>(length);
  auto consumed = static_cast<std::uint32_t>(length);
  const std::int32_t status = utf8ToLatin1(reinterpret_cast<unsigned char*>(copy.get()), &capacity,
                                           reinterpret_cast<const unsigned char*>(name), &consumed);
  copy.get()[status == 0 ? capacity : 0] = '\0';
  return copy;
}

bool selectGroup(const char* name) noexcept {
  if (!isUsable()) return false;
  PreferenceDocument& doc = document();
  if (name[0] == '\0') {
    doc.currentGroup = nullptr;
    clearPending(doc);
    return true;
  }
  FileName fileName;
  toFileName(name, fileName);
  if (fileName.text == nullptr) {
    setPending(doc, nullptr);
    return false;
  }
  if (PreferenceLine* header = findGroupHeader(fileName.text)) {
    doc.currentGroup = header;
    clearPending(doc);
    return true;
  }
  // A pending name discarded here stays in the arena until the document closes.
  setPending(doc, arenaCopy(doc.arena, fileName.text, fileName.length));
  return false;
}

bool appendGroup(const char* name) noexcept {
  if (!isUsable() || name[0] == '\0') return false;
  PreferenceDocument& doc = document();
  FileName fileName;
  toFileName(name, fileName);
  char* stored =
      fileName.text != nullptr ? arenaCopy(doc.arena, fileName.text, fileName.length) : nullptr;
  if (stored == nullptr) return false;
  setPending(doc, stored);
  if (!createPendingGroup()) {
    clearPending(doc);
    return false;
  }
  doc.modified = true;
  return true;
}

bool isUtf8Document() noexcept {
  return isOpen() && document().encoding == Encoding::Utf8;
}

const char* findValue(const char* key) noexcept {
  if (!isUsable() || document().groupPending) return nullptr;
  FileName fileKey;
  toFileName(key, fileKey);
  if (fileKey.text == nullptr) return nullptr;
  const PreferenceLine* entry = findEntry(fileKey.text);
  return entry != nullptr ? entry->text : nullptr;
}

char* reserveValue(const char* key, std::uint32_t length) noexcept {
  if (!isUsable()) return nullptr;
  PreferenceDocument& doc = document();
  if (doc.groupPending && doc.pendingGroup == nullptr) return nullptr;  // its name was lost
  FileName fileKey;
  toFileName(key, fileKey);
  if (fileKey.text == nullptr) return nullptr;
  if (doc.groupPending && !createPendingGroup()) return nullptr;
  char* value;
  if (PreferenceLine* entry = findEntry(fileKey.text)) {
    // The keys matched ignoring ASCII case, so they have the same length.
    std::memcpy(entry->kindOrKey, fileKey.text, fileKey.length);
    if (std::strlen(entry->text) >= length) {
      value = entry->text;
    } else {
      // Outgrown storage from the arena is released with the document.
      value = static_cast<char*>(arenaAllocate(doc.arena, std::size_t{length} + 1));
      if (value == nullptr) return nullptr;
      entry->text = value;
    }
  } else {
    auto* line = static_cast<PreferenceLine*>(arenaAllocate(doc.arena, sizeof(PreferenceLine)));
    char* storedKey = arenaCopy(doc.arena, fileKey.text, fileKey.length);
    value = static_cast<char*>(arenaAllocate(doc.arena, std::size_t{length} + 1));
    if (line == nullptr || storedKey == nullptr || value == nullptr) return nullptr;
    line->kindOrKey = storedKey;
    line->text = value;
    linkAfter(doc, sectionEnd(), line);
  }
  value[0] = '\0';
  doc.modified = true;
  return value;
}

std::int32_t readLong(const char* key, std::int32_t defaultValue) noexcept {
  const char* text = findValue(key);
  return text != nullptr ? parseDecimal(text) : defaultValue;
}

bool writeLong(const char* key, std::int32_t value) noexcept {
  char text[12];
  const std::uint32_t length = formatDecimal(value, text);
  char* storage = reserveValue(key, length);
  if (storage == nullptr) return false;
  std::memcpy(storage, text, length + 1);
  return true;
}

}  // namespace prefs
