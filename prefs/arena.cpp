// The document's arena: blocks of memory handed out in pieces and given back all at once when
// the document closes, so that a document of many lines costs a few allocations.
#include <cstring>

#include "prefs/store.h"

namespace prefs {

struct ArenaBlock {
  ArenaBlock* next;
};

namespace {

constexpr std::size_t ARENA_ALIGN = alignof(void*);  // as arenaAllocate rounds
constexpr std::size_t MIN_BLOCK = 4096;

std::size_t roundUp(std::size_t n) {
  return (n + ARENA_ALIGN - 1) & ~(ARENA_ALIGN - 1);
}

}  // namespace

void* arenaAllocateFromNewBlock(Arena& arena, std::size_t size, std::size_t expected) noexcept {
  // A block's usable bytes follow its header.
  const std::size_t header = roundUp(sizeof(ArenaBlock));
  std::size_t want = size > expected ? size : expected;
  if (want < MIN_BLOCK) want = MIN_BLOCK;
  if (want > SIZE_MAX - header) return nullptr;
  auto* block = static_cast<ArenaBlock*>(platform::allocate(header + want));
  if (block == nullptr) return nullptr;
  block->next = arena.blocks;
  arena.blocks = block;
  arena.cursor = reinterpret_cast<char*>(block) + header + size;
  arena.limit = reinterpret_cast<char*>(block) + header + want;
  return reinterpret_cast<char*>(block) + header;
}

void arenaRelease(Arena& arena) noexcept {
  for (ArenaBlock* block = arena.blocks; block != nullptr;) {
    ArenaBlock* next = block->next;
    platform::release(block);
    block = next;
  }
  arena = Arena{};
}

char* arenaCopy(Arena& arena, const char* text, std::size_t length) noexcept {
  if (length == SIZE_MAX) return nullptr;
  auto* copy = static_cast<char*>(arenaAllocate(arena, length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

}  // namespace prefs
