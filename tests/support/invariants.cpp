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

bool sameLine(const FileLine& a, const FileLine& b) {
  return a.kind == b.kind && sameName(a.key, b.key) &&
         (a.kind == prefs::LineKind::Entry || a.text == b.text);
}

}  // namespace

std::vector<FileLine> parseBytes(const std::string& bytes, prefs::Encoding* encoding) {
  TempFolder folder;
  const std::string path = folder.file("parse.txt");
  writeBytes(path, bytes);
  // The caller's document may be open, and failures may be armed: keep both out of the way.
  const platform::FileCalls saved = platform::fileCalls();
  platform::fileCalls() = platform::defaultFileCalls();
  platform::failAllocation(0, /*persistent=*/false);
  std::vector<FileLine> lines;
  if (prefs::openPreferences(path.c_str())) {
    lines = openDocumentLines();
    if (encoding) *encoding = prefs::parsedDocument().encoding;
    prefs::closePreferences();
  }
  platform::fileCalls() = saved;
  return lines;
}

std::string checkNothingLost(const std::string& old, const std::string& clean,
                             const std::string& actual) {
  if (actual == old) return "";
  prefs::Encoding encoding = prefs::Encoding::Ansi;
  const std::vector<FileLine> actualLines = parseBytes(actual, &encoding);
  // A shorter write-back whose file could not be cut keeps blanks up to the old length.
  const std::string text = normalForm(actualLines, encoding);
  if (actual.compare(0, text.size(), text) != 0 ||
      actual.find_first_not_of(' ', text.size()) != std::string::npos) {
    return "neither the old bytes nor a whole write-back:\n" + visible(actual);
  }
  const std::vector<FileLine> oldLines = parseBytes(old);
  const std::vector<FileLine> cleanLines = parseBytes(clean);
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
  for (const FileLine& line : actualLines) {
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
    return "old line lost: " + visible(oldLines[next].key + "|" + oldLines[next].text) + "\nin:\n" +
           visible(actual);
  }
  return "";
}

}  // namespace testing_support
