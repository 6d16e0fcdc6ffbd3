// The two conversions: Latin-1 to UTF-8 and back gives the input again; with any capacity the
// counts stay within the input and the output, nothing is written past the capacity (the
// output buffers are exactly that large, for AddressSanitizer to see), and what was consumed is
// exactly what was converted.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_file.h"
#include "prefs/textconv.h"

namespace {

using fuzzing::check;

// A heap buffer of exactly `size` bytes (at least one, so that the pointer is usable).
std::unique_ptr<unsigned char[]> exactBuffer(std::uint32_t size) {
  return std::unique_ptr<unsigned char[]>(new unsigned char[size == 0 ? 1 : size]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto smallCapacity = input.ConsumeIntegralInRange<std::uint32_t>(0, 64);
  const std::vector<unsigned char> bytes = input.ConsumeRemainingBytes<unsigned char>();
  const auto length = static_cast<std::uint32_t>(bytes.size());
  const auto utf8Of = [&bytes](std::uint32_t from, std::uint32_t count) {
    return fuzzing::utf8Of(std::string(bytes.begin() + from, bytes.begin() + from + count));
  };

  // The round trip, with room enough.
  std::uint32_t utf8Length = 2 * length;
  std::uint32_t consumed = length;
  auto utf8 = exactBuffer(utf8Length);
  check(prefs::latin1ToUtf8(utf8.get(), &utf8Length, bytes.data(), &consumed) == 0,
        "latin1ToUtf8 gives 0");
  check(consumed == length, "with room for two bytes each, all Latin-1 is converted");
  check(
      std::string(reinterpret_cast<char*>(utf8.get()), utf8Length) == utf8Of(0, length),
      "Latin-1 becomes its UTF-8");
  std::uint32_t backLength = length;
  std::uint32_t utf8Consumed = utf8Length;
  auto back = exactBuffer(backLength);
  check(prefs::utf8ToLatin1(back.get(), &backLength, utf8.get(), &utf8Consumed) == 0,
        "UTF-8 of Latin-1 converts back");
  check(utf8Consumed == utf8Length && backLength == length &&
            std::equal(bytes.begin(), bytes.end(), back.get()),
        "utf8ToLatin1(latin1ToUtf8(x)) == x");

  // Any capacity: Latin-1 to UTF-8 stops at a whole character.
  std::uint32_t capacity = smallCapacity;
  consumed = length;
  auto cut = exactBuffer(capacity);
  prefs::latin1ToUtf8(cut.get(), &capacity, bytes.data(), &consumed);
  check(capacity <= smallCapacity && consumed <= length, "counts within their bounds");
  const std::string prefix = utf8Of(0, consumed);
  check(std::string(reinterpret_cast<char*>(cut.get()), capacity) == prefix,
        "the output is the UTF-8 of what was consumed");
  check(consumed == length || smallCapacity - capacity < utf8Of(consumed, 1).size(),
        "a character is left only when it does not fit");

  // Any bytes read as UTF-8, with any capacity.
  capacity = smallCapacity;
  consumed = length;
  auto decoded = exactBuffer(capacity);
  const std::int32_t status =
      prefs::utf8ToLatin1(decoded.get(), &capacity, bytes.data(), &consumed);
  check(status == 0 || status == -2, "utf8ToLatin1 gives 0 or -2");
  check(capacity <= smallCapacity && consumed <= length, "counts within their bounds");
  // What was consumed converts to the same characters on its own, and every character takes
  // at least one byte, at most four.
  std::uint32_t again = capacity;
  std::uint32_t againConsumed = consumed;
  auto repeat = exactBuffer(again);
  check(prefs::utf8ToLatin1(repeat.get(), &again, bytes.data(), &againConsumed) == 0 &&
            again == capacity && againConsumed == consumed &&
            std::equal(decoded.get(), decoded.get() + capacity, repeat.get()),
        "the consumed prefix converts alone to the same output");
  check(capacity <= consumed && consumed <= 4 * capacity, "one to four bytes per character");
  if (status == -2) check(consumed < length, "an invalid character is left in the input");
  return 0;
}
