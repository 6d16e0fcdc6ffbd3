// The file format as the tests and the fuzz targets check it, written once: the lines of the open
// document as plain values, and the normal form the store must write back for such lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "prefs/store.h"

namespace testing_support {

struct FileLine {
  prefs::LineKind kind;
  std::string key;  // an entry's key; empty for groups and comments
  std::string text;
  bool operator==(const FileLine&) const = default;
};

// The open document's lines, made if they can be (as the first operation that needs them would
// make them); none on a closed document.
std::vector<FileLine> openDocumentLines();

// The text a write-back of `lines` gives in a file of `encoding`: for a UTF-8
// file the byte-order mark and an empty line first, and for an ANSI file whose text would begin
// with the mark's bytes an empty line first; then "[name]", "; comment" or "key = value" per
// line, each ended by CR LF.
std::string normalForm(const std::vector<FileLine>& lines, prefs::Encoding encoding);

// Whether two names are one ignoring the case of A-Z only, as the store compares them.
bool sameName(const std::string& a, const std::string& b);

}  // namespace testing_support
