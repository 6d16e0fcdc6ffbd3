// The write-back: a modified document's lines written over its file in normal form, with one
// write, in the content's own buffer when the text fits there, and never leaving the file
// shorter than its old content.
#include <cstring>

#include "prefs/store.h"

namespace prefs {
namespace {

constexpr char UTF8_PREFIX[] = "\xEF\xBB\xBF\r\n";
constexpr std::size_t UTF8_PREFIX_LENGTH = 5;

std::size_t contentCapacity(const PreferenceDocument& doc) {
  return contentHeadroom(doc) + doc.contentLength + 2;
}

// An ANSI document whose text would begin with the bytes of the byte-order mark (an entry
// whose key starts with them, once the blank lines before it are gone) starts with an empty
// line instead, so that the file is not read back as UTF-8.
bool needsLeadingBlankLine(const PreferenceDocument& doc) {
  return doc.encoding == Encoding::Ansi && doc.firstLine != nullptr &&
         lineKind(*doc.firstLine) == LineKind::Entry &&
         std::strncmp(doc.firstLine->kindOrKey, UTF8_PREFIX, 3) == 0;
}

std::uintptr_t address(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p);
}

// The size of the normal form, in 64 bits so that no count of lines can wrap it, and whether
// it can be built over the content: so it can when every piece taken from the content lands
// no later than where it is read from, as in a file that is already in normal form.
struct TextPlan {
  std::uint64_t size;
  bool inPlace;
};

TextPlan planText(const PreferenceDocument& doc) {
  const std::uintptr_t base = address(contentBuffer(doc));
  const std::uintptr_t end = base + contentCapacity(doc);
  std::uint64_t out = doc.encoding == Encoding::Utf8 ? UTF8_PREFIX_LENGTH : 0;
  if (needsLeadingBlankLine(doc)) out += 2;
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
  return {out, inPlace && out <= contentCapacity(doc)};
}

char* append(char* out, const char* text) {
  const std::size_t length = std::strlen(text);
  std::memmove(out, text, length);
  return out + length;
}

// Builds the normal form at `out`, which may be the content's own buffer (see planText).
void buildText(const PreferenceDocument& doc, char* out) {
  if (doc.encoding == Encoding::Utf8) out = append(out, UTF8_PREFIX);
  if (needsLeadingBlankLine(doc)) out = append(out, "\r\n");
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

}  // namespace

// The file never ends up shorter than its old content: growth is reserved before anything is
// written, so that a full disk refuses the reservation and leaves the old bytes alone; a failed
// or short write puts the old length back; and a shorter text is written padded with blanks to
// the old length and only then cut, so that a file that cannot be cut still reads as the text.
void writeText(char* text, std::int64_t length, const Fingerprint& fingerprint) noexcept {
  const PreferenceDocument& doc = document();
  const platform::FileCalls& io = platform::fileCalls();
  FileTrace& trace = recordedTrace();
  trace.written = fingerprint;
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
    // A file that cannot be cut afterwards still reads as the text: its tail is blanks.
    trace.writtenWhole = true;
    if (io.seek(doc.file, length)) io.setEnd(doc.file);
  } else if (length > oldLength) {
    restoreOldLength();
  }
}

void writeBack() noexcept {
  PreferenceDocument& doc = document();
  doc.groups.release();  // not needed any more: its memory goes before the text's
  const TextPlan plan = planText(doc);
  if (plan.size > static_cast<std::uint64_t>(INT32_MAX)) return;  // too long for one write
  const auto length = static_cast<std::int64_t>(plan.size);
  // The old length never exceeds the content's buffer, so an in-place text can be padded too.
  platform::Owned<char> own;
  char* text = contentBuffer(doc);
  if (!plan.inPlace) {
    const std::int64_t room = length > doc.fileLength ? length : doc.fileLength;
    own.reset(platform::allocateArray<char>(static_cast<std::size_t>(room)));
    if (!own) return;
    text = own.get();
  }
  buildText(doc, text);
  writeText(text, length, fingerprintOf(text, static_cast<std::size_t>(length)));
}

}  // namespace prefs
