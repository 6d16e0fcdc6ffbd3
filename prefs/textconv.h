// Conversion between the program's single-byte ANSI text, read as Latin-1 (each byte the code
// point of the same value), and the UTF-8 text of a file that starts with a byte-order mark.
#pragma once

#include <cstdint>

namespace prefs {

// Converts `*inputLength` Latin-1 bytes into UTF-8 in `output` of `*outputCapacity` bytes.
// On return `*outputCapacity` holds the bytes written and `*inputLength` the bytes consumed;
// a byte that no longer fits is left unconsumed. Writes no terminating zero. Always gives 0.
std::int32_t latin1ToUtf8(unsigned char* output, std::uint32_t* outputCapacity,
                          const unsigned char* input, std::uint32_t* inputLength) noexcept;

// Converts `*inputLength` UTF-8 bytes into Latin-1 in `output` of `*outputCapacity` bytes,
// with the same counts on return. Gives 0 on success or when it stops early (output full, or a
// character cut off by the end of the input, which is left unconsumed), and -2 at a character
// that is invalid or above U+00FF, the counts then telling what came before it. Overlong forms
// are accepted. Writes no terminating zero.
std::int32_t utf8ToLatin1(unsigned char* output, std::uint32_t* outputCapacity,
                          const unsigned char* input, std::uint32_t* inputLength) noexcept;

}  // namespace prefs
