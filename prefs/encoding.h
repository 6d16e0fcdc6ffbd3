// The preference file's encoding: the one type the store records it in, and the keeper and the
// tools name it by.
#pragma once

#include <cstdint>

namespace prefs {

// The code page's number: ANSI, the system's code page; UTF-8, a file that starts with the
// byte-order mark.
enum class Encoding : std::int32_t { Ansi = 0, Utf8 = 65001 };

}  // namespace prefs
