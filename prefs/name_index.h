// An index of names to the first item recorded under each name, so that a lookup costs the
// same however many names there are. It serves the keeper's table (record numbers, names
// compared exactly) and the document's group headers (header lines, names compared ignoring
// ASCII case). Its memory comes from the platform's allocator; callers keep working without it
// by walking their own lists.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace prefs {

enum class NameMatch { Exact, IgnoreAsciiCase };

// Whether two names are equal under `match`. Ignoring case folds only A-Z: every other byte must
// be equal, so that the result never depends on a locale or on how a UTF-8 name's bytes fold.
bool namesMatch(const char* a, const char* b, NameMatch match) noexcept;

// The hash of a name, consistent with namesMatch under the same `match`.
std::uint32_t nameHash(const char* name, NameMatch match) noexcept;

// An open-addressing table of items, at most half full, found by the names the items bear.
// `Items` tells what an item is and how names compare:
//   using Item = ...;                      // a small value: a number or a pointer
//   static constexpr Item NONE = ...;      // marks an empty slot; never an item
//   static constexpr NameMatch MATCH = ...;
//   const char* nameOf(Item item) const;   // the item's name, stable while it is indexed
// `items` is kept through make() and release(): it may say where the items live.
// Absent (no slots) when never made, released, or when its memory could not be had.
template <typename Items>
struct NameIndex {
  using Item = typename Items::Item;
  Item* slots = nullptr;
  std::uint32_t capacity = 0;  // a power of two, or 0 when absent
  std::uint32_t count = 0;
  bool unique = true;  // no name was added twice: any item of a name is its first
  [[no_unique_address]] Items items{};

  bool isPresent() const noexcept { return slots != nullptr; }

  // Makes the index empty with room for `names` names. False, leaving it absent, when memory
  // cannot be had.
  bool make(std::uint32_t names) noexcept {
    release();
    std::uint64_t room = 16;
    while (room < 2 * std::uint64_t{names}) room *= 2;
    if (room > UINT32_MAX / 2) return false;
    slots = platform::allocateArray<Item>(room);
    if (slots == nullptr) return false;
    for (std::uint64_t i = 0; i < room; ++i) slots[i] = Items::NONE;
    capacity = static_cast<std::uint32_t>(room);
    return true;
  }

  // Gives the memory back; the index is absent afterwards.
  void release() noexcept {
    platform::release(slots);
    const Items kept = items;
    *this = NameIndex{};
    items = kept;
  }

  // Records `item` under its name unless the name is there already (the first item of a name is
  // the one kept), growing the index when it fills. When it cannot grow it is released, and
  // the result is false.
  bool add(Item item) noexcept {
    if (!isPresent()) return false;
    if (2 * (std::uint64_t{count} + 1) > capacity) {
      NameIndex larger;
      larger.items = items;
      if (!larger.make(count + 1)) {
        release();
        return false;
      }
      for (std::uint32_t i = 0; i < capacity; ++i) {
        if (slots[i] != Items::NONE) *larger.slotOf(items.nameOf(slots[i])) = slots[i];
      }
      larger.count = count;
      larger.unique = unique;
      release();
      *this = larger;
    }
    Item* slot = slotOf(items.nameOf(item));
    if (*slot == Items::NONE) {
      *slot = item;
      ++count;
    } else {
      unique = false;
    }
    return true;
  }

  // The first item recorded under `name`, or NONE. Requires a present index.
  Item find(const char* name) const noexcept { return *slotOf(name); }

 private:
  // The slot holding `name`, or the empty slot where it would go.
  Item* slotOf(const char* name) const noexcept {
    const std::uint32_t mask = capacity - 1;
    for (std::uint32_t i = nameHash(name, Items::MATCH) & mask;; i = (i + 1) & mask) {
      if (slots[i] == Items::NONE || namesMatch(items.nameOf(slots[i]), name, Items::MATCH)) {
        return &slots[i];
      }
    }
  }
};

}  // namespace prefs
