// Group and key access driven by the input: its first bytes make a file, the rest a sequence of
// operations (open, close, select, next, read, write, examine, failing allocations) with names
// and values taken from the input. Checks that nothing crashes, that a closed document refuses
// everything, that selection finds the first matching header with or without the index, that
// readLong reads as atoi does without overflowing, and that a value written reads back.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_file.h"
#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "prefs/prefs.h"
#include "prefs/prefs_testing.h"
#include "prefs/textconv.h"
#include "support/file_lines.h"

namespace {

using fuzzing::check;
using testing_support::sameName;

// A name as the open document's lines hold it: UTF-8 in a UTF-8 document.
std::string inFile(const std::string& name) {
  if (prefs::parsedDocument().encoding != prefs::Encoding::Utf8) return name;
  return fuzzing::utf8Of(name);
}

// A header's text as an ANSI name: the text itself in an ANSI document; in a UTF-8 one its
// characters as Latin-1 bytes up to a last character cut off by the end of the text, or nothing
// when a character is invalid or above U+00FF (overlong forms count as valid).
std::string latin1Name(const char* text) {
  if (prefs::parsedDocument().encoding != prefs::Encoding::Utf8) return text;
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const std::size_t length = std::strlen(text);
  for (std::size_t at = 0; at < length;) {
    const unsigned char lead = p[at];
    const int more = lead < 0x80   ? 0
                     : lead < 0xC0 ? -1
                     : lead < 0xE0 ? 1
                     : lead < 0xF0 ? 2
                     : lead < 0xF8 ? 3
                                   : -1;
    if (more < 0) return "";
    if (length - at - 1 < static_cast<std::size_t>(more)) break;  // cut off: what came before
    std::uint32_t value = more == 0 ? lead : lead & (0x3Fu >> more);
    for (int i = 1; i <= more; ++i) {
      if ((p[at + i] & 0xC0) != 0x80) return "";
      value = (value << 6) | (p[at + i] & 0x3Fu);
    }
    if (value > 0xFF) return "";
    out += static_cast<char>(value);
    at += 1 + more;
  }
  return out;
}

// atoi, saturated to the 32-bit range.
std::int32_t referenceDecimal(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  std::int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > std::int64_t{INT32_MAX} + 1) break;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

// A name or key from the input, as the C string the store sees.
std::string cText(FuzzedDataProvider& input) {
  return std::string(input.ConsumeRandomLengthString(300).c_str());
}

// An open document whose lines could be made (they are made at the first operation that
// needs them, and a document whose lines cannot get memory does nothing).
bool isOpen() {
  const prefs::PreferenceDocument& doc = prefs::parsedDocument();
  return doc.file != platform::INVALID_FILE && doc.lines == prefs::Lines::Parsed;
}

// A pending group whose name could not be stored: reads and writes then do nothing.
bool pendingLost() {
  const prefs::PreferenceDocument& doc = prefs::parsedDocument();
  return doc.groupPending && doc.pendingGroup == nullptr;
}

void checkClosedRules() {
  check(!isOpen(), "closed");
  check(!prefs::examineGroups(), "a closed document cannot be examined");
  check(!prefs::nextGroup(), "a closed document has no groups");
  check(!prefs::selectGroup("a"), "a closed document cannot select");
  check(!prefs::selectGroup(""), "a closed document cannot select the top level");
  check(prefs::findValue("Res_X") == nullptr, "a closed document has no values");
  check(prefs::reserveValue("Res_X", 4) == nullptr, "a closed document cannot be written");
  check(prefs::readLong("Res_X", -5) == -5, "a closed document reads the default");
  prefs::writeLong("Res_X", 1);
  const platform::Owned<char> name = prefs::currentGroupName();
  check(!name || name.get()[0] == '\0', "a closed document has no current group");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  prefs::useGroupIndex(input.ConsumeBool());
  std::string file = input.ConsumeBool() ? "\xEF\xBB\xBF" : "";
  file += input.ConsumeRandomLengthString(4096);
  fuzzing::writeFile(file);
  const char* path = fuzzing::filePath().c_str();
  check(prefs::openPreferences(path), "a regular file opens");

  for (int step = 0; step < 200 && input.remaining_bytes() > 0; ++step) {
    const std::uint64_t refusedBefore = platform::injectedAllocationFailures();
    const auto noneRefused = [&] {
      return platform::injectedAllocationFailures() == refusedBefore;
    };
    switch (input.ConsumeIntegralInRange<int>(0, 11)) {
      case 0:
        check(prefs::examineGroups() == isOpen(), "examine succeeds exactly when open");
        check(!isOpen() || prefs::parsedDocument().currentGroup == nullptr,
              "examine goes back to the top level");
        break;
      case 1: {
        const prefs::PreferenceLine* before = prefs::parsedDocument().currentGroup;
        if (prefs::nextGroup()) {
          const prefs::PreferenceLine* now = prefs::parsedDocument().currentGroup;
          check(now != nullptr && now != before && prefs::lineKind(*now) == prefs::LineKind::Group,
                "the next group is another header");
        } else {
          check(prefs::parsedDocument().currentGroup == before,
                "no next group keeps the current one");
        }
        break;
      }
      case 2: {
        const platform::Owned<char> name = prefs::currentGroupName();
        if (name && isOpen()) {
          const prefs::PreferenceLine* group = prefs::parsedDocument().currentGroup;
          check(name.get() == latin1Name(group != nullptr ? group->text : ""),
                "the current group's name is its header's text in ANSI, or empty");
        }
        break;
      }
      case 3: {
        const std::string name = cText(input);
        const bool selected = prefs::selectGroup(name.c_str());
        if (!isOpen() || name.empty() || !noneRefused()) break;
        // The first header whose text matches, as a walk over the lines finds it.
        const std::string wanted = inFile(name);
        const prefs::PreferenceLine* first = prefs::parsedDocument().firstLine;
        while (first != nullptr && (prefs::lineKind(*first) != prefs::LineKind::Group ||
                                    !sameName(first->text, wanted.c_str()))) {
          first = first->next;
        }
        check(selected == (first != nullptr), "a group is selected exactly when it exists");
        if (selected) {
          check(prefs::parsedDocument().currentGroup == first,
                "selection finds the first matching header");
        }
        break;
      }
      case 4:
        prefs::findValue(cText(input).c_str());
        break;
      case 5: {
        const std::string key = cText(input);
        const std::int32_t fallback = input.ConsumeIntegral<std::int32_t>();
        const std::int32_t value = prefs::readLong(key.c_str(), fallback);
        const char* text = prefs::findValue(key.c_str());
        if (noneRefused()) {
          check(value == (text != nullptr ? referenceDecimal(text) : fallback),
                "readLong reads as atoi, saturated");
        }
        break;
      }
      case 6: {
        const std::string key = cText(input);
        const std::int32_t value = input.ConsumeIntegral<std::int32_t>();
        const bool lost = pendingLost();
        prefs::writeLong(key.c_str(), value);
        const std::int32_t read = prefs::readLong(key.c_str(), value == 0 ? 1 : 0);
        if (isOpen() && !lost && noneRefused()) {
          check(read == value, "a written value reads back");
          check(prefs::parsedDocument().modified, "a write marks the document modified");
        }
        break;
      }
      case 7: {
        const std::string key = cText(input);
        const auto length = input.ConsumeIntegralInRange<std::uint32_t>(0, 300);
        char* value = prefs::reserveValue(key.c_str(), length);
        if (value != nullptr) {
          check(value[0] == '\0', "reserved storage starts empty");
          std::memset(value, 'v', length);  // all of the room promised
          value[length] = '\0';
        }
        break;
      }
      case 8:
        prefs::closePreferences();
        checkClosedRules();
        break;
      case 9:
        prefs::openPreferences(path);
        break;
      case 10:
        platform::failAllocation(input.ConsumeIntegralInRange<std::uint64_t>(1, 40),
                                 input.ConsumeBool());
        break;
      case 11:
        prefs::useGroupIndex(input.ConsumeBool());
        break;
    }
  }
  platform::failAllocation(0, /*persistent=*/false);
  prefs::closePreferences();
  checkClosedRules();
  prefs::useGroupIndex(/*enabled=*/true);
  return 0;
}
