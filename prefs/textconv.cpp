// Latin-1 / UTF-8 conversion in one pass, without allocating.
#include "prefs/textconv.h"

namespace prefs {

std::int32_t latin1ToUtf8(unsigned char* output, std::uint32_t* outputCapacity,
                          const unsigned char* input, std::uint32_t* inputLength) noexcept {
  const std::uint32_t capacity = *outputCapacity;
  const std::uint32_t length = *inputLength;
  std::uint32_t out = 0;
  std::uint32_t in = 0;
  while (in < length && capacity - out >= 2) {
    // Runs of ASCII are copied in an inner loop bounded by the output that remains.
    while (in < length && out < capacity && input[in] < 0x80) output[out++] = input[in++];
    if (in < length && capacity - out >= 2) {
      const unsigned char b = input[in++];
      output[out++] = static_cast<unsigned char>(0xC0 | (b >> 6));
      output[out++] = static_cast<unsigned char>(0x80 | (b & 0x3F));
    }
  }
  // With one output byte left, one more ASCII byte still fits.
  if (in < length && capacity - out == 1 && input[in] < 0x80) output[out++] = input[in++];
  *outputCapacity = out;
  *inputLength = in;
  return 0;
}

std::int32_t utf8ToLatin1(unsigned char* output, std::uint32_t* outputCapacity,
                          const unsigned char* input, std::uint32_t* inputLength) noexcept {
  const std::uint32_t capacity = *outputCapacity;
  const std::uint32_t length = *inputLength;
  std::uint32_t out = 0;
  std::uint32_t in = 0;
  std::int32_t status = 0;
  while (in < length) {
    const unsigned char lead = input[in];
    std::uint32_t value;
    std::uint32_t continuations;
    if (lead < 0x80) {
      value = lead;
      continuations = 0;
    } else if (lead < 0xC0) {
      status = -2;
      break;
    } else if (lead < 0xE0) {
      value = lead & 0x1Fu;
      continuations = 1;
    } else if (lead < 0xF0) {
      value = lead & 0x0Fu;
      continuations = 2;
    } else if (lead < 0xF8) {
      value = lead & 0x07u;
      continuations = 3;
    } else {
      status = -2;
      break;
    }
    if (length - in - 1 < continuations) break;  // cut off by the end of the input
    bool valid = true;
    for (std::uint32_t i = 1; i <= continuations; ++i) {
      const unsigned char next = input[in + i];
      if ((next & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      value = (value << 6) | (next & 0x3Fu);
    }
    if (!valid || value > 0xFF) {
      status = -2;
      break;
    }
    if (out >= capacity) break;
    output[out++] = static_cast<unsigned char>(value);
    in += continuations + 1;
  }
  *outputCapacity = out;
  *inputLength = in;
  return status;
}

}  // namespace prefs
