// Name comparison and hashing for the name index: FNV-1a over the bytes, folded or not.
#include "prefs/name_index.h"

#include <cstring>

namespace prefs {
namespace {

unsigned char fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

}  // namespace

bool namesMatch(const char* a, const char* b, NameMatch match) noexcept {
  if (match == NameMatch::Exact) return std::strcmp(a, b) == 0;
  for (;; ++a, ++b) {
    const unsigned char x = fold(static_cast<unsigned char>(*a));
    if (x != fold(static_cast<unsigned char>(*b))) return false;
    if (x == 0) return true;
  }
}

std::uint32_t nameHash(const char* name, NameMatch match) noexcept {
  std::uint32_t hash = 2166136261u;
  const auto* p = reinterpret_cast<const unsigned char*>(name);
  if (match == NameMatch::Exact) {
    for (; *p != 0; ++p) hash = (hash ^ *p) * 16777619u;
  } else {
    for (; *p != 0; ++p) hash = (hash ^ fold(*p)) * 16777619u;
  }
  return hash;
}

}  // namespace prefs
