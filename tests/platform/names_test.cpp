// Which names reach the programs as themselves through the ANSI code page (Windows 1252 under
// wine here).
#include "platform/names.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

TEST(Names, ANameTheCodePageCannotSpellIsTold) {
  const struct {
    const wchar_t* value;  // nullptr: not set
    bool fits;
  } cases[] = {
      {nullptr, true},
      {L"alice", true},
      {L"J\u00fcrgen", true},                                  // in 1252
      {L"\u0414\u043c\u0438\u0442\u0440\u0438\u0439", false},  // Cyrillic
      {L"Zo\u00eb \u0141ukasz", false},                        // one letter outside 1252
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"RESKEEPER_TEST_NAME", c.value));
    EXPECT_EQ(platform::environmentValueFitsCodePage("RESKEEPER_TEST_NAME"), c.fits)
        << (c.value ? "a name" : "not set");
  }
  ::SetEnvironmentVariableW(L"RESKEEPER_TEST_NAME", nullptr);
}
#endif
