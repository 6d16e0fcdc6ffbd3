// The Latin-1 / UTF-8 conversions: results, statuses and counts.
#include <gtest/gtest.h>

#include <string>

#include "prefs/textconv.h"
#include "support/temp_folder.h"

namespace {

using testing_support::visible;

struct Result {
  std::string output;
  std::int32_t status;
  std::uint32_t consumed;
  bool operator==(const Result&) const = default;
};

void PrintTo(const Result& r, std::ostream* os) {
  *os << "{" << visible(r.output) << ", status " << r.status << ", consumed " << r.consumed
      << "}";
}

template <typename Convert>
Result run(Convert convert, const std::string& input, std::uint32_t capacity) {
  std::string buffer(capacity + 1, '\x55');
  std::uint32_t written = capacity;
  auto consumed = static_cast<std::uint32_t>(input.size());
  const std::int32_t status =
      convert(reinterpret_cast<unsigned char*>(buffer.data()), &written,
              reinterpret_cast<const unsigned char*>(input.data()), &consumed);
  EXPECT_EQ(buffer[capacity], '\x55') << "wrote past its capacity";
  return {buffer.substr(0, written), status, consumed};
}

TEST(TextConversion, Latin1ToUtf8) {
  struct Case {
    std::string input;
    std::uint32_t capacity;
    Result expected;
  };
  const Case cases[] = {
      {"J\xFCr", 12, {"J\xC3\xBCr", 0, 3}},
      {"", 4, {"", 0, 0}},
      {std::string("a\0b", 3), 12, {std::string("a\0b", 3), 0, 3}},
      {"\x80\xFF", 8, {"\xC2\x80\xC3\xBF", 0, 2}},
      // Output running out: a two-byte character needs two free bytes; an ASCII byte fits
      // in the last one.
      {"ab\xFC", 3, {"ab", 0, 2}},
      {"a\xFC" "b", 3, {"a\xC3\xBC", 0, 2}},
      {"\xFC" "ab", 3, {"\xC3\xBC" "a", 0, 2}},
      {"abc", 2, {"ab", 0, 2}},
      {"abc", 1, {"a", 0, 1}},
      {"\xFC", 1, {"", 0, 0}},
      {"abc", 0, {"", 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(visible(c.input) + " capacity " + std::to_string(c.capacity));
    EXPECT_EQ(run(prefs::latin1ToUtf8, c.input, c.capacity), c.expected);
  }
}

TEST(TextConversion, Utf8ToLatin1) {
  struct Case {
    std::string input;
    std::uint32_t capacity;
    Result expected;
  };
  const Case cases[] = {
      {"J\xC3\xBCr", 4, {"J\xFCr", 0, 4}},
      {"\xE2\x82\xAC", 3, {"", -2, 0}},
      {"A\xC3", 2, {"A", 0, 1}},
      {"A\x80", 2, {"A", -2, 1}},
      {"\xC0\x80", 2, {std::string(1, '\0'), 0, 2}},
      {"\xC1\x81", 2, {"A", 0, 2}},
      {"\xE0\x81\x81", 3, {"A", 0, 3}},
      {"\xF0\x80\x81\x81", 4, {"A", 0, 4}},
      {"\xF8\x80\x80\x80\x80", 5, {"", -2, 0}},
      {"\xFF", 1, {"", -2, 0}},
      {"a\xC3(", 3, {"a", -2, 1}},
      {"a\xE2\x41", 3, {"a", 0, 1}},
      {"\xC4\x80", 2, {"", -2, 0}},
      {"abc", 2, {"ab", 0, 2}},
      {"\xC3\xBC\xC3\xBC", 1, {"\xFC", 0, 2}},
      {"", 0, {"", 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(visible(c.input) + " capacity " + std::to_string(c.capacity));
    EXPECT_EQ(run(prefs::utf8ToLatin1, c.input, c.capacity), c.expected);
  }
}

TEST(TextConversion, EveryLatin1ByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const Result utf8 = run(prefs::latin1ToUtf8, all, 4 * 256);
  ASSERT_EQ(utf8.consumed, 256u);
  EXPECT_EQ(utf8.output.size(), 128u + 2u * 128u);
  EXPECT_EQ(run(prefs::utf8ToLatin1, utf8.output, 256), (Result{all, 0, 384}));
}

}  // namespace
