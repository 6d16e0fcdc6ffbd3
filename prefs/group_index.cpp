// The group index: the first header of each case-folded name in an open-addressing table, so
// that selecting a group costs the same however many groups the file holds. Built at a
// document's first selection (a document that is only enumerated never needs it) and kept up
// to date as groups are added; when its memory cannot be had, the document simply has none and
// selection walks the headers.
#include "prefs/store.h"

namespace prefs {

struct GroupIndex {
  PreferenceLine** slots;
  std::uint32_t capacity;  // a power of two
  std::uint32_t count;
  bool unique;  // no two headers share a case-folded name
};

namespace detail {
namespace {

bool indexEnabled = true;
// Built on the first lookup: a document that is only enumerated never needs it.
bool indexPending = false;
std::uint32_t pendingHeaders = 0;

std::uint32_t foldedHash(const char* name) {
  std::uint32_t hash = 2166136261u;
  for (auto* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
    hash = (hash ^ foldAscii(*p)) * 16777619u;
  }
  return hash;
}

// The slot holding a header named `name`, or the empty slot where it would go.
PreferenceLine** probe(GroupIndex& index, const char* name) {
  const std::uint32_t mask = index.capacity - 1;
  for (std::uint32_t i = foldedHash(name) & mask;; i = (i + 1) & mask) {
    PreferenceLine** slot = &index.slots[i];
    if (*slot == nullptr || namesEqual((*slot)->text, name)) return slot;
  }
}

GroupIndex* makeIndex(std::uint32_t headers) {
  std::uint64_t capacity = 16;
  while (capacity < 2 * static_cast<std::uint64_t>(headers)) capacity *= 2;
  if (capacity > UINT32_MAX / 2) return nullptr;
  auto* index = platform::create<GroupIndex>();
  if (index == nullptr) return nullptr;
  index->slots = platform::allocateArray<PreferenceLine*>(capacity);
  if (index->slots == nullptr) {
    platform::release(index);
    return nullptr;
  }
  for (std::uint64_t i = 0; i < capacity; ++i) index->slots[i] = nullptr;
  index->capacity = static_cast<std::uint32_t>(capacity);
  index->unique = true;
  return index;
}

void freeIndex(GroupIndex* index) {
  if (index == nullptr) return;
  platform::release(index->slots);
  platform::release(index);
}

// Indexes every header of the document in file order, so that each slot keeps the first.
void fill(GroupIndex& index) {
  for (PreferenceLine* line = document().firstLine; line != nullptr; line = line->next) {
    if (!isGroup(line)) continue;
    PreferenceLine** slot = probe(index, line->text);
    if (*slot == nullptr) {
      *slot = line;
      ++index.count;
    } else {
      index.unique = false;
    }
  }
}

void buildNow(std::uint32_t headerCount) {
  GroupIndex* index = makeIndex(headerCount);
  if (index == nullptr) return;
  fill(*index);
  document().groups = index;
}

}  // namespace

void prepareGroupIndex(std::uint32_t headerCount) noexcept {
  releaseGroupIndex();
  if (!indexEnabled) return;
  indexPending = true;
  pendingHeaders = headerCount;
}

void releaseGroupIndex() noexcept {
  indexPending = false;
  freeIndex(document().groups);
  document().groups = nullptr;
}

PreferenceLine* findGroupHeader(const char* name) noexcept {
  PreferenceDocument& doc = document();
  if (indexPending) {
    indexPending = false;
    buildNow(pendingHeaders);
  }
  if (doc.groups != nullptr) {
    // Saving in file order: the header after the current group is usually the one asked for,
    // and when no name repeats it is also the first of its name.
    if (doc.groups->unique) {
      PreferenceLine* line = doc.currentGroup != nullptr ? doc.currentGroup->next : doc.firstLine;
      for (int steps = 0; line != nullptr && steps < 8; ++steps, line = line->next) {
        if (isGroup(line)) {
          if (namesEqual(line->text, name)) return line;
          break;
        }
      }
    }
    return *probe(*doc.groups, name);
  }
  for (PreferenceLine* line = doc.firstLine; line != nullptr; line = line->next) {
    if (isGroup(line) && namesEqual(line->text, name)) return line;
  }
  return nullptr;
}

void indexNewGroup(PreferenceLine* header) noexcept {
  GroupIndex* index = document().groups;
  if (indexPending) ++pendingHeaders;
  if (index == nullptr) return;
  if (2 * (static_cast<std::uint64_t>(index->count) + 1) > index->capacity) {
    GroupIndex* larger = makeIndex(index->count + 1);
    freeIndex(index);
    document().groups = larger;
    if (larger == nullptr) return;  // from now on selection walks the headers
    fill(*larger);                  // the new header is already linked in
    return;
  }
  PreferenceLine** slot = probe(*index, header->text);
  if (*slot == nullptr) {
    *slot = header;
    ++index->count;
  } else {
    index->unique = false;
  }
}

}  // namespace detail

void useGroupIndex(bool enabled) noexcept { detail::indexEnabled = enabled; }

}  // namespace prefs
