// The preference document: opening and parsing a file in place, and writing a modified
// document back in normal form when it is closed.
#include <cstring>

#include "prefs/store.h"

namespace prefs {
namespace detail {
namespace {

PreferenceDocument theDocument;

// A block of arena memory; its usable bytes follow the header.
constexpr std::size_t ARENA_ALIGN = alignof(void*);
constexpr std::size_t MIN_BLOCK = 4096;

std::size_t roundUp(std::size_t n) { return (n + ARENA_ALIGN - 1) & ~(ARENA_ALIGN - 1); }

}  // namespace

}  // namespace detail

struct ArenaBlock {
  ArenaBlock* next;
};

namespace detail {

PreferenceDocument& document() noexcept { return theDocument; }

void* arenaAllocate(Arena& arena, std::size_t size, std::size_t expected) noexcept {
  size = roundUp(size == 0 ? 1 : size);
  if (static_cast<std::size_t>(arena.limit - arena.cursor) < size || arena.cursor == nullptr) {
    const std::size_t header = roundUp(sizeof(ArenaBlock));
    std::size_t want = size > expected ? size : expected;
    if (want < MIN_BLOCK) want = MIN_BLOCK;
    if (want > SIZE_MAX - header) return nullptr;
    auto* block = static_cast<ArenaBlock*>(platform::allocate(header + want));
    if (block == nullptr) return nullptr;
    block->next = arena.blocks;
    arena.blocks = block;
    arena.cursor = reinterpret_cast<char*>(block) + header;
    arena.limit = arena.cursor + want;
  }
  void* memory = arena.cursor;
  arena.cursor += size;
  return memory;
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

bool namesEqual(const char* a, const char* b) noexcept {
  for (;; ++a, ++b) {
    const unsigned char x = foldAscii(static_cast<unsigned char>(*a));
    if (x != foldAscii(static_cast<unsigned char>(*b))) return false;
    if (x == 0) return true;
  }
}

void linkAfter(PreferenceLine* after, PreferenceLine* line) noexcept {
  PreferenceDocument& doc = theDocument;
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

ContentFingerprint fingerprintOf(const char* bytes, std::size_t length) noexcept {
  // Eight independent lanes over 64-byte blocks, one multiplication per word, so that it runs
  // at the speed of memory; the rotation carries every bit of a word into the low half before
  // the multiplication spreads it upwards.
  constexpr std::uint64_t P1 = 0x9E3779B185EBCA87ull;
  constexpr std::uint64_t P2 = 0xC2B2AE3D27D4EB4Full;
  const auto step = [](std::uint64_t lane, std::uint64_t word) {
    lane ^= word;
    lane = (lane << 31) | (lane >> 33);
    return lane * P1;
  };
  const auto load = [bytes](std::size_t at) {
    std::uint64_t word;
    std::memcpy(&word, bytes + at, sizeof word);
    return word;
  };
  std::uint64_t lanes[8];
  for (int lane = 0; lane < 8; ++lane) lanes[lane] = P2 * static_cast<std::uint64_t>(lane + 1);
  std::size_t i = 0;
  for (; i + 64 <= length; i += 64) {
    for (int lane = 0; lane < 8; ++lane) lanes[lane] = step(lanes[lane], load(i + 8 * lane));
  }
  std::uint64_t hash = static_cast<std::uint64_t>(length) * P1;
  for (const std::uint64_t lane : lanes) hash = step(hash, lane) * P2;
  for (; i + 8 <= length; i += 8) hash = step(hash, load(i)) * P2;
  for (; i < length; ++i) hash = step(hash, static_cast<unsigned char>(bytes[i]));
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDull;
  hash ^= hash >> 33;
  hash *= 0xC4CEB9FE1A85EC53ull;
  hash ^= hash >> 33;
  return {static_cast<std::int64_t>(length), hash};
}

namespace {

bool isLineEnd(char c) { return c == '\r' || c == '\n' || c == '\0'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

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

// Parses the content into lines, ending each piece in place with a zero byte. Gives the number
// of group headers, or false when memory for the lines cannot be had.
bool parseContent(std::uint32_t* headerCount) {
  PreferenceDocument& doc = theDocument;
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
    linkAfter(doc.lastLine, line);
  }
  *headerCount = headers;
  return true;
}

}  // namespace

bool ensureParsed() noexcept {
  PreferenceDocument& doc = theDocument;
  if (!isOpen()) return false;
  if (!doc.parsed) {
    doc.parsed = true;
    doc.rewriteAsRead = false;  // parsing ends the pieces in place: the bytes are no more
    std::uint32_t headers = 0;
    doc.parseFailed = !parseContent(&headers);
    if (!doc.parseFailed) prepareGroupIndex(headers);
  }
  return !doc.parseFailed;
}

namespace {

// The bytes before the content in its buffer: room for a UTF-8 file's byte-order mark, so that
// the normal form of a file already in it fits exactly over the bytes it was parsed from.
std::size_t headroom() { return theDocument.encoding == ENCODING_UTF8 ? 3 : 0; }

char* contentBuffer() { return theDocument.content - headroom(); }

std::size_t contentCapacity() { return headroom() + theDocument.contentLength + 2; }

void releaseDocument() {
  PreferenceDocument& doc = theDocument;
  if (doc.file != platform::INVALID_FILE) platform::fileCalls().close(doc.file);
  releaseGroupIndex();
  arenaRelease(doc.arena);
  if (doc.content != nullptr) platform::release(contentBuffer());
  doc = PreferenceDocument{};
}

constexpr char UTF8_PREFIX[] = "\xEF\xBB\xBF\r\n";
constexpr std::size_t UTF8_PREFIX_LENGTH = 5;

// An ANSI document whose text would begin with the bytes of the byte-order mark (an entry
// whose key starts with them, once the blank lines before it are gone) starts with an empty
// line instead, so that the file is not read back as UTF-8.
bool needsLeadingBlankLine() {
  const PreferenceDocument& doc = theDocument;
  return doc.encoding == ENCODING_ANSI && doc.firstLine != nullptr &&
         lineKind(*doc.firstLine) == LineKind::Entry &&
         std::strncmp(doc.firstLine->kindOrKey, UTF8_PREFIX, 3) == 0;
}

std::uintptr_t address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// The size of the normal form, in 64 bits so that no count of lines can wrap it, and whether
// it can be built over the content: so it can when every piece taken from the content lands
// no later than where it is read from, as in a file that is already in normal form.
struct TextPlan {
  std::uint64_t size;
  bool inPlace;
};

TextPlan planText() {
  const PreferenceDocument& doc = theDocument;
  const std::uintptr_t base = address(contentBuffer());
  const std::uintptr_t end = base + contentCapacity();
  std::uint64_t out = doc.encoding == ENCODING_UTF8 ? UTF8_PREFIX_LENGTH : 0;
  if (needsLeadingBlankLine()) out += 2;
  bool inPlace = true;
  // Pieces of the content come in increasing order along the lines, so a piece that is not
  // overtaken when it is copied leaves every later one intact.
  const auto piece = [&](const char* text, std::uint64_t before, std::uint64_t after) {
    out += before;
    const std::uintptr_t at = address(text);
    if (at >= base && at < end && out > at - base) inPlace = false;
    out += std::strlen(text) + after;
  };
  for (const PreferenceLine* line = doc.firstLine; line != nullptr; line = line->next) {
    switch (lineKind(*line)) {
      case LineKind::Group:
        piece(line->text, 1, 3);  // "[" name "]" CR LF
        break;
      case LineKind::Comment:
        piece(line->text, 2, 2);  // "; " text CR LF
        break;
      case LineKind::Entry:
        piece(line->kindOrKey, 0, 0);
        piece(line->text, 3, 2);  // key " = " value CR LF
        break;
    }
  }
  return {out, inPlace && out <= contentCapacity()};
}

char* append(char* out, const char* text) {
  const std::size_t length = std::strlen(text);
  std::memmove(out, text, length);
  return out + length;
}

// Builds the normal form at `out`, which may be the content's own buffer (see planText).
void buildText(char* out) {
  const PreferenceDocument& doc = theDocument;
  if (doc.encoding == ENCODING_UTF8) out = append(out, UTF8_PREFIX);
  if (needsLeadingBlankLine()) out = append(out, "\r\n");
  for (const PreferenceLine* line = doc.firstLine; line != nullptr; line = line->next) {
    switch (lineKind(*line)) {
      case LineKind::Group:
        *out++ = '[';
        out = append(out, line->text);
        *out++ = ']';
        break;
      case LineKind::Comment:
        *out++ = ';';
        *out++ = ' ';
        out = append(out, line->text);
        break;
      case LineKind::Entry:
        out = append(out, line->kindOrKey);
        out = append(out, " = ");
        out = append(out, line->text);
        break;
    }
    *out++ = '\r';
    *out++ = '\n';
  }
}

// What the last closing wrote back.
bool lastWrote = false;
ContentFingerprint lastWritten;

// Writes `text` of `length` bytes over the file, its buffer holding at least the file's old
// length. The file never ends up shorter than its old content: growth is reserved before
// anything is written, so that a full disk refuses the reservation and leaves the old bytes
// alone; a failed or short write puts the old length back; and a shorter text is written
// padded with blanks to the old length and only then cut, so that a file that cannot be cut
// still reads as the text.
void writeText(char* text, std::int64_t length) {
  const PreferenceDocument& doc = theDocument;
  const platform::FileCalls& io = platform::fileCalls();
  lastWrote = true;
  lastWritten = fingerprintOf(text, static_cast<std::size_t>(length));
  const std::int64_t oldLength = doc.fileLength;
  const std::int64_t writeLength = length > oldLength ? length : oldLength;
  std::memset(text + length, ' ', static_cast<std::size_t>(writeLength - length));
  const auto restoreOldLength = [&] {
    if (io.seek(doc.file, oldLength)) io.setEnd(doc.file);
  };
  if (length > oldLength && !io.reserve(doc.file, length)) {
    restoreOldLength();  // a refused reservation may still have grown the file
    return;
  }
  std::uint32_t written = 0;
  const auto count = static_cast<std::uint32_t>(writeLength);
  if (io.seek(doc.file, 0) && io.write(doc.file, text, count, &written) && written == count) {
    if (io.seek(doc.file, length)) io.setEnd(doc.file);
  } else if (length > oldLength) {
    restoreOldLength();
  }
}

// Writes the normal form of the document's lines over the file.
void writeBack() {
  const PreferenceDocument& doc = theDocument;
  releaseGroupIndex();
  const TextPlan plan = planText();
  if (plan.size > static_cast<std::uint64_t>(INT32_MAX)) return;  // too long for one write
  const auto length = static_cast<std::int64_t>(plan.size);
  // The old length never exceeds the content's buffer, so an in-place text can be padded too.
  platform::Owned<char> own;
  char* text = contentBuffer();
  if (!plan.inPlace) {
    const std::int64_t room = length > doc.fileLength ? length : doc.fileLength;
    own.reset(platform::allocateArray<char>(static_cast<std::size_t>(room)));
    if (!own) return;
    text = own.get();
  }
  buildText(text);
  writeText(text, length);
}

}  // namespace
}  // namespace detail

LineKind lineKind(const PreferenceLine& line) noexcept {
  if (line.kindOrKey == detail::groupMarker()) return LineKind::Group;
  if (line.kindOrKey == detail::commentMarker()) return LineKind::Comment;
  return LineKind::Entry;
}

const char* lineKey(const PreferenceLine& line) noexcept {
  return lineKind(line) == LineKind::Entry ? line.kindOrKey : nullptr;
}

const PreferenceDocument& preferenceDocument() noexcept {
  detail::ensureParsed();
  return detail::document();
}

ContentFingerprint openFingerprint() noexcept {
  return detail::isOpen() ? detail::document().fingerprint : ContentFingerprint{};
}

bool rewriteAsRead() noexcept {
  PreferenceDocument& doc = detail::document();
  if (!detail::isOpen() || doc.parsed) return false;
  doc.rewriteAsRead = true;
  return true;
}

bool lastWriteBack(ContentFingerprint* text) noexcept {
  if (detail::lastWrote) *text = detail::lastWritten;
  return detail::lastWrote;
}

bool openPreferences(const char* path) noexcept {
  using namespace detail;
  closePreferences();
  lastWrote = false;
  PreferenceDocument& doc = document();
  const platform::FileCalls& io = platform::fileCalls();
  platform::FileHandle file = platform::INVALID_FILE;
  if (!io.openReadWrite(path, &file) && !io.openReadOnly(path, &file)) return false;
  doc.file = file;
  // Anything short of the whole file read into memory leaves the document closed, so that no
  // later write-back can replace content that was never read.
  std::int64_t size = 0;
  if (!io.size(file, &size) || size < 0 || size > INT32_MAX) {
    releaseDocument();
    return false;
  }
  doc.fileLength = size;
  std::int64_t contentSize = size;
  if (size >= 3) {
    // A file of three bytes or more that cannot give its first three is not read further:
    // taking it for ANSI would mangle a UTF-8 file's names at the next write-back.
    unsigned char mark[3] = {};
    std::uint32_t got = 0;
    if (!io.read(file, mark, 3, &got) || got != 3) {
      releaseDocument();
      return false;
    }
    if (mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
      doc.encoding = ENCODING_UTF8;
      contentSize -= 3;
    } else if (!io.seek(file, 0)) {
      releaseDocument();
      return false;
    }
  }
  char* buffer = platform::allocateArray<char>(headroom() + static_cast<std::size_t>(contentSize) + 2);
  if (buffer == nullptr) {
    releaseDocument();
    return false;
  }
  doc.content = buffer + headroom();
  std::uint32_t got = 0;
  if (contentSize > 0 &&
      (!io.read(file, doc.content, static_cast<std::uint32_t>(contentSize), &got) ||
       got != static_cast<std::uint32_t>(contentSize))) {
    releaseDocument();
    return false;
  }
  doc.contentLength = got;
  doc.content[got] = '\0';
  doc.content[got + 1] = '\0';
  // With the mark put back in front, the buffer holds the file's bytes as they were read.
  if (doc.encoding == ENCODING_UTF8) std::memcpy(buffer, UTF8_PREFIX, 3);
  doc.fingerprint = fingerprintOf(buffer, static_cast<std::size_t>(size));
  return true;
}

void closePreferences() noexcept {
  using namespace detail;
  if (!isOpen()) return;
  PreferenceDocument& doc = document();
  if (doc.modified) {
    writeBack();
  } else if (doc.rewriteAsRead) {
    writeText(contentBuffer(), doc.fileLength);
  }
  releaseDocument();
}

}  // namespace prefs
