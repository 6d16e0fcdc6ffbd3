// The parser: a document's content made into group, comment and entry lines in place, each
// piece ended by a zero byte written over the character that ends it, so that no text is
// copied.
#include "prefs/store.h"

namespace prefs {
namespace {

bool isLineEnd(char c) {
  return c == '\r' || c == '\n' || c == '\0';
}
bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

char* findLineEnd(char* p) {
  while (!isLineEnd(*p)) ++p;
  return p;
}

// An upper bound of the lines the content can hold: one per run of line ends, plus one.
std::size_t countLineBound(const char* content, std::uint32_t length) {
  // The last byte of each run of line ends: an LF, a CR not followed by LF, or a zero.
  std::size_t lines = 1;
  for (std::uint32_t i = 0; i < length; ++i) {
    const char c = content[i];
    lines += (c == '\n') | (c == '\0') | ((c == '\r') & (content[i + 1] != '\n'));
  }
  return lines;
}

}  // namespace

bool parseContent() noexcept {
  PreferenceDocument& doc = document();
  char* p = doc.content;
  char* const end = doc.content + doc.contentLength;
  // The lines take one block of the arena, sized by a count of the line ends; writes use what
  // is left of it for the few keys and values they add.
  const std::size_t bound = countLineBound(doc.content, doc.contentLength);
  const std::size_t expected = bound * sizeof(PreferenceLine) + 4096;
  if (doc.contentLength > 0 && arenaAllocate(doc.arena, 0, expected) == nullptr) return false;
  std::uint32_t headers = 0;
  while (p < end) {
    while (isBlank(*p)) ++p;
    char* kindOrKey;
    char* text;
    char* lineEnd;
    if (*p == ';') {
      ++p;
      if (*p == ' ') ++p;
      kindOrKey = commentMarker();
      text = p;
      lineEnd = findLineEnd(p);
    } else if (*p == '[') {
      text = ++p;
      while (*p != ']' && !isLineEnd(*p)) ++p;
      if (*p == ']') {
        *p = '\0';
        lineEnd = findLineEnd(p + 1);
      } else {
        lineEnd = p;
      }
      kindOrKey = groupMarker();
      ++headers;
    } else if (isLineEnd(*p)) {
      lineEnd = p;
      kindOrKey = nullptr;
      text = nullptr;
    } else {
      kindOrKey = p;
      while (*p != '=' && !isLineEnd(*p)) ++p;
      char* keyEnd = p;
      while (keyEnd > kindOrKey && isBlank(keyEnd[-1])) --keyEnd;
      if (*p == '=') {
        ++p;
        while (isBlank(*p)) ++p;
        text = p;
        lineEnd = findLineEnd(p);
      } else {
        text = p;  // the line end, zeroed below: an empty value
        lineEnd = p;
      }
      *keyEnd = '\0';
    }
    // Skip the line end and any run of CR and LF after it, then end the piece.
    p = lineEnd + 1;
    while (*p == '\r' || *p == '\n') ++p;
    *lineEnd = '\0';
    if (kindOrKey == nullptr) continue;
    auto* line = static_cast<PreferenceLine*>(arenaAllocate(doc.arena, sizeof(PreferenceLine)));
    if (line == nullptr) return false;
    line->kindOrKey = kindOrKey;
    line->text = text;
    linkAfter(doc, doc.lastLine, line);
  }
  doc.headerCount = headers;
  return true;
}

}  // namespace prefs
