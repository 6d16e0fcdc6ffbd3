// Whether a name from the environment reaches the programs as itself. The keeper reads USERNAME
// through the system's ANSI code page; on Windows a character that code page lacks is replaced
// by a best-fit stand-in (or '?'), so two different names can read as one.
#pragma once

namespace platform {

// False when the environment variable `name` is set and its value holds a character that the
// system's ANSI code page cannot spell exactly (Windows; an ANSI code page of UTF-8 spells
// every one); true otherwise, and always on other systems, whose programs read the bytes as
// they are.
bool environmentValueFitsCodePage(const char* name) noexcept;

}  // namespace platform
