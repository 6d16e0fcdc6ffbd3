// JSON as reskeeperctl writes it for scripts.
#pragma once

#include <string>

namespace ctl {

// Bytes as a JSON string: each byte taken as the character of that code point (Latin-1),
// written in UTF-8, with quotes, backslashes and control characters escaped; so the text is
// always valid UTF-8 and the bytes can be recovered exactly.
std::string jsonString(const std::string& bytes);

}  // namespace ctl
