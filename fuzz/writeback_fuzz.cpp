// Parser and write-back: any bytes open; a document closed without writes leaves its file byte
// for byte; a written document is written back in normal form, which parses to the same lines
// (plus the one written), and writing it back again gives the same bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_file.h"
#include "prefs/prefs.h"
#include "prefs/prefs_testing.h"
#include "support/file_lines.h"

namespace {

using fuzzing::check;
using testing_support::FileLine;
using testing_support::normalForm;
using testing_support::openDocumentLines;
using testing_support::sameName;

// The probe write: Res_X = 7 at the top level, before the first group.
void writeProbe() {
  check(prefs::selectGroup(""), "the top level can always be selected");
  prefs::writeLong("Res_X", 7);
}

// The lines the probe write should leave: the first top-level Res_X (any case) takes the key's
// spelling and the value, or a new entry ends the top-level lines.
std::vector<FileLine> withProbe(std::vector<FileLine> lines) {
  std::size_t end = 0;
  for (; end < lines.size() && lines[end].kind != prefs::LineKind::Group; ++end) {
    if (lines[end].kind == prefs::LineKind::Entry && sameName(lines[end].key, "Res_X")) {
      lines[end].key = "Res_X";
      lines[end].text = "7";
      return lines;
    }
  }
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end),
               FileLine{prefs::LineKind::Entry, "Res_X", "7"});
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzzing::writeFile(input);
  const char* path = fuzzing::filePath().c_str();

  // Reading, enumerating and selecting, without a write, leave the file alone.
  check(prefs::openPreferences(path), "a regular file opens");
  const std::vector<FileLine> parsed = openDocumentLines();
  const prefs::Encoding encoding = prefs::parsedDocument().encoding;
  check(prefs::examineGroups(), "an open document can be examined");
  while (prefs::nextGroup()) {
    prefs::readLong("Res_X", 1024);
    prefs::currentGroupName();
  }
  if (!prefs::selectGroup("no such group \x01")) {
    check(prefs::findValue("Res_Y") == nullptr, "a pending group has no values");
  }
  check(!prefs::parsedDocument().modified, "reading marks nothing modified");
  prefs::closePreferences();
  check(fuzzing::readFile() == input, "a document without writes leaves its file byte for byte");

  // One write: the file becomes the normal form of the parsed lines plus the written one.
  check(prefs::openPreferences(path), "a regular file opens");
  check(openDocumentLines() == parsed, "the same bytes parse the same");
  writeProbe();
  const std::vector<FileLine> expected = withProbe(parsed);
  check(openDocumentLines() == expected, "the write changes exactly its own line");
  prefs::closePreferences();
  const std::string written = fuzzing::readFile();
  check(written == normalForm(expected, encoding), "the write-back is the normal form");

  check(prefs::openPreferences(path), "a written file opens");
  check(prefs::parsedDocument().encoding == encoding, "the encoding survives a write-back");
  check(openDocumentLines() == expected, "a write-back parses to the same lines");
  writeProbe();
  prefs::closePreferences();
  check(fuzzing::readFile() == written, "writing back twice gives the same bytes");
  return 0;
}
