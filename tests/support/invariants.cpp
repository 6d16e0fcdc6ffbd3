#include "support/invariants.h"

#include <cstdio>
#include <filesystem>

#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "prefs/prefs.h"
#include "prefs/prefs_testing.h"
#include "support/temp_folder.h"

namespace testing_support {
namespace {

bool sameKey(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool sameLine(const ParsedLine& a, const ParsedLine& b) {
  return a.kind == b.kind && sameKey(a.key, b.key) && (a.kind == 3 || a.text == b.text);
}

}  // namespace

std::vector<ParsedLine> parseBytes(const std::string& bytes, int* encoding) {
  TempFolder folder;
  const std::string path = folder.file("parse.txt");
  writeBytes(path, bytes);
  // The caller's document may be open, and failures may be armed: keep both out of the way.
  const platform::FileCalls saved = platform::fileCalls();
  platform::fileCalls() = platform::defaultFileCalls();
  platform::failAllocation(0, false);
  std::vector<ParsedLine> lines;
  if (prefs::openPreferences(path.c_str())) {
    for (const prefs::PreferenceLine* line = prefs::parsedDocument().firstLine;
         line != nullptr; line = line->next) {
      const char* key = prefs::lineKey(*line);
      lines.push_back({static_cast<int>(prefs::lineKind(*line)), key ? key : "", line->text});
    }
    if (encoding) *encoding = prefs::parsedDocument().encoding;
    prefs::closePreferences();
  }
  platform::fileCalls() = saved;
  return lines;
}

std::string normalForm(const std::vector<ParsedLine>& lines, int encoding) {
  std::string out = encoding == prefs::ENCODING_UTF8 ? "\xEF\xBB\xBF\r\n" : "";
  for (const ParsedLine& line : lines) {
    if (line.kind == 1) out += "[" + line.text + "]";
    if (line.kind == 2) out += "; " + line.text;
    if (line.kind == 3) out += line.key + " = " + line.text;
    out += "\r\n";
  }
  return out;
}

std::string checkNothingLost(const std::string& old, const std::string& clean,
                             const std::string& actual) {
  if (actual == old) return "";
  int encoding = 0;
  const std::vector<ParsedLine> actualLines = parseBytes(actual, &encoding);
  // A shorter write-back whose file could not be cut keeps blanks up to the old length.
  const std::string text = normalForm(actualLines, encoding);
  if (actual.compare(0, text.size(), text) != 0 ||
      actual.find_first_not_of(' ', text.size()) != std::string::npos) {
    return "neither the old bytes nor a whole write-back:\n" + visible(actual);
  }
  const std::vector<ParsedLine> oldLines = parseBytes(old);
  const std::vector<ParsedLine> cleanLines = parseBytes(clean);
  // Where each old line went in the clean result.
  std::vector<std::size_t> cleanOf(oldLines.size(), cleanLines.size());
  std::vector<bool> cleanIsOld(cleanLines.size(), false);
  for (std::size_t i = 0, c = 0; i < oldLines.size(); ++i) {
    while (c < cleanLines.size() && !sameLine(oldLines[i], cleanLines[c])) ++c;
    if (c == cleanLines.size()) return "the clean run lost an old line: test is wrong";
    cleanOf[i] = c;
    cleanIsOld[c++] = true;
  }
  std::size_t next = 0;
  for (const ParsedLine& line : actualLines) {
    if (next < oldLines.size() && sameLine(line, oldLines[next]) &&
        (line.text == oldLines[next].text || line.text == cleanLines[cleanOf[next]].text)) {
      ++next;
      continue;
    }
    bool added = false;
    for (std::size_t c = 0; c < cleanLines.size() && !added; ++c) {
      added = !cleanIsOld[c] && sameLine(line, cleanLines[c]) && line.text == cleanLines[c].text;
    }
    if (!added) return "a line neither old nor written: " + visible(line.key + "|" + line.text);
  }
  if (next != oldLines.size()) {
    return "old line lost: " + visible(oldLines[next].key + "|" + oldLines[next].text) +
           "\nin:\n" + visible(actual);
  }
  return "";
}

}  // namespace testing_support
