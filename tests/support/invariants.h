// What a failure may do to a preference file: leave it byte for byte as it was, or leave a
// whole write-back (followed by blanks, when a shorter text could not be cut) in which every old
// line is still present, each value either its old text or the one the interrupted work wrote, and
// nothing that the clean run would not have written.
#pragma once

#include <string>
#include <vector>

#include "support/file_lines.h"

namespace testing_support {

// Parses bytes with the store (failures switched off); gives the lines and the encoding.
std::vector<FileLine> parseBytes(const std::string& bytes, prefs::Encoding* encoding = nullptr);

// Empty when `actual` is an acceptable state after a failure, given the file's old bytes and
// the bytes the same work leaves without failures; otherwise what is wrong.
std::string checkNothingLost(const std::string& old, const std::string& clean,
                             const std::string& actual);

}  // namespace testing_support
