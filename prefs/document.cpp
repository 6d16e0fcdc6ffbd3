// The document: the one open preference file, opened and read whole into memory, its lines
// made when first needed, and closed with a write-back when it was modified.
#include <cstring>

#include "prefs/store.h"

namespace prefs {
namespace {

PreferenceDocument theDocument;
FileTrace trace;

// Closes the file and releases every part of the document.
void releaseDocument() {
  PreferenceDocument& doc = theDocument;
  if (doc.file != platform::INVALID_FILE) platform::fileCalls().close(doc.file);
  doc.groups.release();
  arenaRelease(doc.arena);
  if (doc.content != nullptr) platform::release(contentBuffer(doc));
  doc = PreferenceDocument{};
}

}  // namespace

PreferenceDocument& document() noexcept {
  return theDocument;
}

const FileTrace& fileTrace() noexcept {
  return trace;
}

FileTrace& recordedTrace() noexcept {
  return trace;
}

LineKind lineKind(const PreferenceLine& line) noexcept {
  if (line.kindOrKey == groupMarker()) return LineKind::Group;
  if (line.kindOrKey == commentMarker()) return LineKind::Comment;
  return LineKind::Entry;
}

const char* lineKey(const PreferenceLine& line) noexcept {
  return lineKind(line) == LineKind::Entry ? line.kindOrKey : nullptr;
}

Fingerprint fingerprintOf(const char* bytes, std::size_t length) noexcept {
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

bool ensureParsed() noexcept {
  PreferenceDocument& doc = theDocument;
  if (!isOpen()) return false;
  if (doc.lines == Lines::Unparsed) {
    doc.lines = parseContent() ? Lines::Parsed : Lines::NoMemory;
  }
  return doc.lines == Lines::Parsed;
}

bool openPreferences(const char* path) noexcept {
  closePreferences();
  trace = FileTrace{};
  PreferenceDocument& doc = theDocument;
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
      doc.encoding = Encoding::Utf8;
      contentSize -= 3;
    } else if (!io.seek(file, 0)) {
      releaseDocument();
      return false;
    }
  }
  const std::size_t headroom = contentHeadroom(doc);
  char* buffer =
      platform::allocateArray<char>(headroom + static_cast<std::size_t>(contentSize) + 2);
  if (buffer == nullptr) {
    releaseDocument();
    return false;
  }
  doc.content = buffer + headroom;
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
  if (doc.encoding == Encoding::Utf8) std::memcpy(buffer, "\xEF\xBB\xBF", 3);
  trace.opened = fingerprintOf(buffer, static_cast<std::size_t>(size));
  return true;
}

void closePreferences() noexcept {
  if (!isOpen()) return;
  if (theDocument.modified) writeBack();
  releaseDocument();
}

void discardPreferences() noexcept {
  if (isOpen()) releaseDocument();
}

void closePreferencesRewritingAsRead() noexcept {
  if (!isOpen()) return;
  PreferenceDocument& doc = theDocument;
  // Parsing ends the pieces in place, so only an unparsed document still holds the bytes read;
  // their fingerprint is known. Any other is written in its normal form, changed or not.
  if (!doc.modified && doc.lines == Lines::Unparsed) {
    writeText(contentBuffer(doc), doc.fileLength, trace.opened);
  } else if (doc.lines == Lines::Parsed) {
    writeBack();
  }
  releaseDocument();
}

}  // namespace prefs
