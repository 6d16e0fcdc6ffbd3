// reskeeper Settings' sentences, which need no window: each kind of finding and of outcome has
// words of its own, names that would not show as themselves are spelt out, and counts agree.
#include "settings/words.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(Words, EveryFindingAndOutcomeHasWordsOfItsOwn) {
  ctl::StatusReport status;
  status.file = "C:\\ProgramData\\reskeeper\\Data\\Pref.txt";
  status.record = {1024, 768};
  std::set<std::string> said;
  for (int kind = 0; kind <= static_cast<int>(ctl::Problem::NoDisplay); ++kind) {
    status.findings = {{static_cast<ctl::Problem>(kind), "the library's line"}};
    said.insert(settings::findingsText(status));
  }
  EXPECT_EQ(said.size(), static_cast<std::size_t>(ctl::Problem::NoDisplay) + 1);
  EXPECT_EQ(said.count("the library's line"), 0u);
  status.findings.clear();
  EXPECT_EQ(settings::findingsText(status), "Nothing is wrong: reskeeper runs in your session.");

  said.clear();
  for (int kind = 0; kind <= static_cast<int>(ctl::SetResult::Returned); ++kind) {
    said.insert(
        settings::outcomeText({static_cast<ctl::SetResult>(kind), "why"}, {800, 600}, status));
  }
  // A held file and an unreadable one share words, and the three the library's own line tells
  // (refused, failed, returned) read alike.
  EXPECT_EQ(said.size(), static_cast<std::size_t>(ctl::SetResult::Returned) + 1 - 1 - 2);
  EXPECT_TRUE(said.count("Not kept: why"));
  status.keeperRunning = true;
  status.screenKnown = true;
  status.screen = {1024, 768};
  EXPECT_EQ(settings::outcomeText({ctl::SetResult::Kept, ""}, {800, 600}, status),
            "Stored 800 x 600, but the screen still shows 1024 x 768: the display did not take "
            "it.");
}

TEST(Words, NamesAndCountsReadAsThemselves) {
  EXPECT_EQ(settings::userText({"alice", ctl::UserNameState::Set}), "alice");
  EXPECT_EQ(settings::userText({"a\x7f", ctl::UserNameState::Set}), ctl::displayName("a\x7f"));
  EXPECT_EQ(settings::userText({"  ", ctl::UserNameState::Set}), "(2 spaces)");
  EXPECT_EQ(settings::countdownWords({800, 600}, 1), "Returning to 800 x 600 in 1 second");
  EXPECT_EQ(settings::countdownWords({800, 600}, 15), "Returning to 800 x 600 in 15 seconds");
  ctl::StatusReport status;
  status.hasRecord = true;
  status.record = {800, 600};
  status.screenKnown = true;
  status.screen = {800, 600};
  EXPECT_EQ(settings::modeText({{800, 600}, {}, false}, status), "800 x 600  (kept, on screen)");
}

}  // namespace
