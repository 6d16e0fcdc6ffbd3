// The keeper's passes against real files in a temporary folder and a recording fake
// environment and display. Every case runs with the table's index and with the plain walk.
#include "keeper/keeper.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "keeper/keeper_testing.h"
#include "keeper/profiles.h"
#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "prefs/prefs_testing.h"
#include "support/fake_system.h"
#include "support/temp_folder.h"

namespace {

using testing_support::DisplaySwitch;
using testing_support::fakeSystem;
using testing_support::FakeSystem;
using testing_support::readBytes;
using testing_support::visible;

class KeeperTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    keeper::useUserIndex(GetParam());
    fakeSystem() = FakeSystem{};
    fakeSystem().userName = "alice";
    previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
  }
  void TearDown() override { std::filesystem::current_path(previous); }

  static void writePrefs(const std::string& bytes) {
    testing_support::writeBytes(keeper::PREFERENCE_FILE, bytes);
  }
  static std::string prefs() { return visible(readBytes(keeper::PREFERENCE_FILE)); }

  struct Record {
    std::string name;
    std::int32_t width;
    std::int32_t height;
    bool operator==(const Record&) const = default;
  };
  static std::vector<Record> table() {
    std::vector<Record> records;
    const keeper::UserResolutionTable& t = keeper::userTable();
    for (std::uint32_t i = 0; i < t.count; ++i) {
      records.push_back({t.records[i].userName, t.records[i].width, t.records[i].height});
    }
    return records;
  }
  static std::vector<DisplaySwitch> takeSwitches() {
    std::vector<DisplaySwitch> switches;
    switches.swap(fakeSystem().switches);
    return switches;
  }

  platform::ScopedPlatformDefaults platformDefaults;
  prefs::ScopedStoreDefaults storeDefaults;
  keeper::ScopedKeeperDefaults keeperDefaults;
  testing_support::TempFolder folder;
  std::filesystem::path previous;
};

INSTANTIATE_TEST_SUITE_P(IndexAndWalk, KeeperTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Index" : "Walk"; });

TEST_P(KeeperTest, TheTypicalPassSwitchesToTheStoredSizeAndRewritesTheFile) {
  writePrefs("[alice]\nRes_X=1280\nRes_Y=1024\n");
  keeper::loadProfiles();
  EXPECT_EQ(table(), (std::vector<Record>{{"alice", 1280, 1024}}));
  EXPECT_EQ(prefs(), visible("[alice]\nRes_X=1280\nRes_Y=1024\n")) << "loading writes nothing";
  keeper::applyCurrentUser();
  EXPECT_EQ(takeSwitches(), (std::vector<DisplaySwitch>{{1280, 1024, 32}}));
  keeper::saveProfiles();
  const std::string normal = visible("[alice]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n");
  EXPECT_EQ(prefs(), normal);
  keeper::runPass();
  EXPECT_TRUE(takeSwitches().empty()) << "the screen already has the stored size";
  EXPECT_EQ(prefs(), normal);
}

TEST_P(KeeperTest, AFirstTimeUserIsRecordedWithThePresentSizeAndNotSwitched) {
  writePrefs("");
  fakeSystem().width = 1600;
  fakeSystem().height = 900;
  keeper::runPass();
  EXPECT_TRUE(takeSwitches().empty());
  EXPECT_EQ(table(), (std::vector<Record>{{"alice", 1600, 900}}));
  EXPECT_EQ(prefs(), visible("[alice]\r\nRes_X = 1600\r\nRes_Y = 900\r\n"));
}

TEST_P(KeeperTest, AFirstTimeUserWaitsForADisplayThatCanTellItsSize) {
  writePrefs("");
  fakeSystem().width = 0;
  fakeSystem().height = 0;
  keeper::runPass();
  EXPECT_TRUE(table().empty());
  EXPECT_EQ(prefs(), "");
  fakeSystem().width = 1280;
  fakeSystem().height = 720;
  keeper::runPass();
  EXPECT_EQ(table(), (std::vector<Record>{{"alice", 1280, 720}}));
  EXPECT_TRUE(takeSwitches().empty());
}

TEST_P(KeeperTest, AMissingFileIsNeverCreated) {
  for (int pass = 0; pass < 3; ++pass) keeper::runPass();
  EXPECT_FALSE(testing_support::exists(keeper::PREFERENCE_FILE));
  EXPECT_EQ(table(), (std::vector<Record>{{"alice", 1024, 768}}));
  EXPECT_TRUE(takeSwitches().empty());
}

TEST_P(KeeperTest, ADifferenceInHeightAloneSwitchesAt32BitsPerPixel) {
  writePrefs("[alice]\nRes_X=1024\nRes_Y=600\n");
  fakeSystem().displayFollowsSwitch = false;  // a display that refuses the mode
  keeper::runPass();
  keeper::runPass();
  EXPECT_EQ(takeSwitches(), (std::vector<DisplaySwitch>{{1024, 600, 32}, {1024, 600, 32}}))
      << "a refused switch is asked for again at every pass";
}

TEST_P(KeeperTest, GroupsWithoutAUsableNameAreNeitherLoadedNorChanged) {
  writePrefs("\xEF\xBB\xBF[]\nRes_X=1\n[\xE2\x82\xAC]\nRes_X=2\n[x\x80y]\nRes_X=3\n");
  keeper::runPass();
  EXPECT_EQ(table(), (std::vector<Record>{{"alice", 1024, 768}}));
  EXPECT_EQ(prefs(),
            visible("\xEF\xBB\xBF\r\n[]\r\nRes_X = 1\r\n[\xE2\x82\xAC]\r\nRes_X = 2\r\n"
                    "[x\x80y]\r\nRes_X = 3\r\n[alice]\r\nRes_X = 1024\r\nRes_Y = 768\r\n"));
}

TEST_P(KeeperTest, TheSameGroupTwiceEndsWithTheLaterValuesInBoth) {
  writePrefs("[bob]\nRes_X=800\nRes_Y=600\n[bob]\nRes_X=1280\nRes_Y=1024\n");
  keeper::runPass();
  EXPECT_EQ(table()[0], (Record{"bob", 1280, 1024}));
  keeper::runPass();
  EXPECT_EQ(prefs(), visible("[bob]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n[bob]\r\nRes_X = 1280\r\n"
                             "Res_Y = 1024\r\n[alice]\r\nRes_X = 1024\r\nRes_Y = 768\r\n"));
}

TEST_P(KeeperTest, BobAndBOBAreTwoRecordsSharingTheFirstGroup) {
  writePrefs("[Bob]\nRes_X=800\nRes_Y=600\n[BOB]\nRes_X=1280\nRes_Y=1024\n");
  fakeSystem().userName = "Bob";
  keeper::runPass();
  EXPECT_EQ(table(), (std::vector<Record>{{"Bob", 800, 600}, {"BOB", 1280, 1024}}));
  EXPECT_EQ(takeSwitches(), (std::vector<DisplaySwitch>{{800, 600, 32}}));
  EXPECT_EQ(prefs(), visible("[Bob]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n"
                             "[BOB]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n"));
  keeper::runPass();
  EXPECT_EQ(table(), (std::vector<Record>{{"Bob", 1280, 1024}, {"BOB", 1280, 1024}}));
  EXPECT_EQ(takeSwitches(), (std::vector<DisplaySwitch>{{1280, 1024, 32}}));
}

TEST_P(KeeperTest, AliceAgainstTheGroupAliceTakesThePresentSize) {
  writePrefs("[alice]\nRes_X=1280\nRes_Y=1024\n");
  fakeSystem().userName = "Alice";
  keeper::runPass();
  EXPECT_TRUE(takeSwitches().empty());
  EXPECT_EQ(table(), (std::vector<Record>{{"alice", 1280, 1024}, {"Alice", 1024, 768}}));
  EXPECT_EQ(prefs(), visible("[alice]\r\nRes_X = 1024\r\nRes_Y = 768\r\n"));
  keeper::runPass();
  EXPECT_TRUE(takeSwitches().empty());
  EXPECT_EQ(table(), (std::vector<Record>{{"alice", 1024, 768}, {"Alice", 1024, 768}}));
}

TEST_P(KeeperTest, AnEmptyUserNameKeepsItsValuesAtTheTopLevel) {
  writePrefs("[bob]\nRes_X=800\nRes_Y=600\n");
  fakeSystem().userName = "";
  keeper::runPass();
  fakeSystem().width = 640;
  keeper::runPass();
  EXPECT_EQ(prefs(), visible("Res_X = 1024\r\nRes_Y = 768\r\n[bob]\r\nRes_X = 800\r\n"
                             "Res_Y = 600\r\n"));
  EXPECT_EQ(takeSwitches(), (std::vector<DisplaySwitch>{{1024, 768, 32}}))
      << "the empty name's own record, never reloaded from the top level, is applied";
}

TEST_P(KeeperTest, AnUnsetOrTooLongUserNameIs255Spaces) {
  writePrefs("");
  const std::string spaces(keeper::USER_NAME_CAPACITY, ' ');
  struct Case {
    std::optional<std::string> value;
    std::string name;
  };
  const Case cases[] = {{std::nullopt, spaces},
                        {std::string(254, 'x'), std::string(254, 'x')},
                        {std::string(255, 'y'), spaces},
                        {std::string(4000, 'z'), spaces}};
  for (const Case& c : cases) {
    fakeSystem().userName = c.value;
    EXPECT_EQ(std::string(keeper::currentUserName().text), c.name);
  }
  fakeSystem().userName = std::nullopt;
  keeper::runPass();
  EXPECT_EQ(table(), (std::vector<Record>{{spaces, 1024, 768}}));
  EXPECT_EQ(prefs(), visible("[" + spaces + "]\r\nRes_X = 1024\r\nRes_Y = 768\r\n"));
}

TEST_P(KeeperTest, ADeletedGroupIsAppendedAgain) {
  writePrefs("; keep\n[bob]\nRes_X=800\nRes_Y=600\n");
  keeper::runPass();
  writePrefs("; keep\n[carol]\nRes_X=1\nRes_Y=2\n");
  keeper::runPass();
  EXPECT_EQ(table().size(), 3u);
  EXPECT_EQ(prefs(), visible("; keep\r\n[carol]\r\nRes_X = 1\r\nRes_Y = 2\r\n"
                             "[bob]\r\nRes_X = 800\r\nRes_Y = 600\r\n"
                             "[alice]\r\nRes_X = 1024\r\nRes_Y = 768\r\n"));
}

TEST_P(KeeperTest, OddValuesReadAsAtoiAndMissingKeysTakeTheDefaults) {
  writePrefs(
      "; users\ntop = 1\n[alice]\nRes_X = 1280x\nRes_Y =\ncolour = blue\n[bob]\n"
      "  ; no values\n[carol]\nRes_Y=abc\n");
  fakeSystem().displayFollowsSwitch = false;
  keeper::runPass();
  EXPECT_EQ(table(),
            (std::vector<Record>{{"alice", 1280, 0}, {"bob", 1024, 768}, {"carol", 1024, 0}}));
  EXPECT_EQ(takeSwitches(), (std::vector<DisplaySwitch>{{1280, 0, 32}}));
  EXPECT_EQ(prefs(), visible("; users\r\ntop = 1\r\n[alice]\r\nRes_X = 1280\r\nRes_Y = 0\r\n"
                             "colour = blue\r\n[bob]\r\n; no values\r\nRes_X = 1024\r\n"
                             "Res_Y = 768\r\n[carol]\r\nRes_Y = 0\r\nRes_X = 1024\r\n"));
}

TEST_P(KeeperTest, AValueEditedBetweenPassesIsAppliedAtTheNext) {
  writePrefs("");
  keeper::runPass();
  writePrefs("[alice]\r\nRes_X = 800\r\nRes_Y = 600\r\n");
  keeper::runPass();
  EXPECT_EQ(takeSwitches(), (std::vector<DisplaySwitch>{{800, 600, 32}}));
  EXPECT_EQ(prefs(), visible("[alice]\r\nRes_X = 800\r\nRes_Y = 600\r\n"));
}

TEST_P(KeeperTest, ANameAGroupHeaderCannotHoldIsAppliedButNeverSaved) {
  writePrefs("; c\n");
  for (const char* name : {"x]y", "x\ny", "x\rz"}) {
    fakeSystem().userName = name;
    keeper::runPass();
    keeper::runPass();
  }
  EXPECT_EQ(table().size(), 3u);
  EXPECT_EQ(prefs(), visible("; c\n")) << "nothing to save, so nothing written";
  fakeSystem().userName = "x]y";
  keeper::userTable().records[0].width = 640;
  keeper::runPass();
  EXPECT_EQ(takeSwitches(), (std::vector<DisplaySwitch>{{640, 768, 32}}));
}

TEST_P(KeeperTest, ARecordThatCannotGetMemoryIsSkipped) {
  writePrefs("");
  platform::failAllocation(1, /*persistent=*/true);
  keeper::runPass();
  EXPECT_TRUE(table().empty());
  EXPECT_EQ(prefs(), "");
  platform::failAllocation(0, /*persistent=*/false);
  keeper::runPass();
  EXPECT_EQ(table(), (std::vector<Record>{{"alice", 1024, 768}}));
}

TEST_P(KeeperTest, APassThatCouldNotLoadTheFileSavesNothing) {
  // Another process holds the file for writing while this one loads: the present size
  // recorded for alice must not replace her stored one.
  const std::string stored = "[alice]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n";
  writePrefs(stored);
  platform::FileHandle held = platform::INVALID_FILE;
  ASSERT_TRUE(platform::fileCalls().openReadWrite(keeper::PREFERENCE_FILE, &held));
  keeper::loadProfiles();
  platform::fileCalls().close(held);
  keeper::applyCurrentUser();
  keeper::saveProfiles();
  EXPECT_EQ(prefs(), visible(stored));
  EXPECT_TRUE(takeSwitches().empty());
  keeper::runPass();
  EXPECT_EQ(table(), (std::vector<Record>{{"alice", 1280, 1024}}));
  EXPECT_EQ(takeSwitches(), (std::vector<DisplaySwitch>{{1280, 1024, 32}}));
  EXPECT_EQ(prefs(), visible(stored));
}

// Every file call of a pass, in order, for comparing passes call by call.
std::vector<std::string> fileTrace;

platform::FileCalls tracingCalls() {
  platform::FileCalls calls = platform::defaultFileCalls();
  calls.openReadWrite = [](const char* path, platform::FileHandle* file) {
    fileTrace.push_back("openReadWrite");
    return platform::defaultFileCalls().openReadWrite(path, file);
  };
  calls.read = [](platform::FileHandle file, void* buffer, std::uint32_t count,
                  std::uint32_t* got) {
    fileTrace.push_back("read " + std::to_string(count));
    return platform::defaultFileCalls().read(file, buffer, count, got);
  };
  calls.seek = [](platform::FileHandle file, std::int64_t offset) {
    fileTrace.push_back("seek " + std::to_string(offset));
    return platform::defaultFileCalls().seek(file, offset);
  };
  calls.reserve = [](platform::FileHandle file, std::int64_t length) {
    fileTrace.push_back("reserve " + std::to_string(length));
    return platform::defaultFileCalls().reserve(file, length);
  };
  calls.write = [](platform::FileHandle file, const void* buffer, std::uint32_t count,
                   std::uint32_t* written) {
    fileTrace.push_back("write " + std::string(static_cast<const char*>(buffer), count));
    return platform::defaultFileCalls().write(file, buffer, count, written);
  };
  calls.setEnd = [](platform::FileHandle file) {
    fileTrace.push_back("setEnd");
    return platform::defaultFileCalls().setEnd(file);
  };
  return calls;
}

TEST_P(KeeperTest, PassesThatChangeNothingSkipParsingButDoExactlyTheSame) {
  // Each step: new file bytes (or none), the user, the display's width from then on (or as it
  // was; 0: a display that cannot tell its size), and bytes the file is edited to between the
  // pass's load and its save (or none), or whether it is put back then to the bytes the last
  // pass left; then one pass.
  struct Step {
    std::optional<std::string> bytes;
    const char* user;
    std::optional<std::int32_t> width = std::nullopt;
    std::optional<std::string> edit = std::nullopt;
    bool putBack = false;
  };
  const std::string erin = "; c\r\n[erin]\r\nRes_X = 1024\r\nRes_Y = 768\r\n";
  const std::string normal = "; c\r\n[Bob]\r\nRes_X = 800\r\nRes_Y = 600\r\n";
  const Step steps[] = {
      {"; c\r\n", "erin", 0},  // an empty table: nothing to write
      {std::nullopt, "erin"},
      {std::nullopt, "erin"},
      {std::nullopt, "erin", 1024},  // a first-time user right after steady passes
      {std::nullopt, "erin"},
      // A group added by hand after the load: the save leaves the file as it finds it, but the
      // next load must still read the new group.
      {std::nullopt, "erin", std::nullopt, erin + "[dave]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n"},
      {std::nullopt, "erin"},
      {std::nullopt, "dave"},
      {"; c\n[Bob]\nRes_X=800\nRes_Y=600\n[BOB]\nRes_X=640\nRes_Y=480\n", "Bob"},
      {std::nullopt, "Bob"},
      {std::nullopt, "Bob"},
      {std::nullopt, "Bob"},
      {normal, "Bob"},  // the same bytes written again
      {std::nullopt, "BOB"},
      {std::nullopt, "carol"},
      {std::nullopt, "carol"},
      {"\xEF\xBB\xBF\r\n[Bob]\r\nRes_X = 1\r\nRes_Y = 2\r\n", "carol"},
      {std::nullopt, "carol"},
      {std::nullopt, "carol"},
      {std::nullopt, "frank"},  // recorded right after steady passes that wrote the file
      {"", "Bob"},
      {std::nullopt, "x]y"},
      {std::nullopt, "x]y"},
      {std::nullopt, "x]y"},
      // A loaded size that differs in the width alone, the height alone or both is a change,
      // also when the steady file is put back before the save.
      {"[gina]\r\nRes_X = 800\r\nRes_Y = 600\r\n", "gina"},
      {std::nullopt, "gina"},
      {"[gina]\r\nRes_X = 801\r\nRes_Y = 600\r\n", "gina", std::nullopt, std::nullopt, true},
      {std::nullopt, "gina"},
      {"[gina]\r\nRes_X = 801\r\nRes_Y = 601\r\n", "gina", std::nullopt, std::nullopt, true},
      {std::nullopt, "gina"},
      {"[gina]\r\nRes_X = 802\r\nRes_Y = 602\r\n", "gina", std::nullopt, std::nullopt, true},
      {std::nullopt, "gina"},
      {"[gina]\r\nRes_X = 802\r\nRes_Y = 603\r\n", "gina"},
  };
  struct Outcome {
    std::string file;
    std::vector<Record> table;
    std::vector<DisplaySwitch> switches;
    std::vector<std::string> calls;
  };
  std::vector<Outcome> outcomes[2];
  for (const bool shortcut : {false, true}) {
    keeper::clearUserTable();
    keeper::useSteadyPasses(shortcut);
    fakeSystem() = FakeSystem{};
    platform::fileCalls() = tracingCalls();
    for (const Step& step : steps) {
      const std::string last = readBytes(keeper::PREFERENCE_FILE);
      if (step.bytes) writePrefs(*step.bytes);
      fakeSystem().userName = step.user;
      if (step.width) fakeSystem().width = *step.width;
      fileTrace.clear();
      if (step.edit || step.putBack) {
        keeper::loadProfiles();
        writePrefs(step.edit ? *step.edit : last);
        keeper::applyCurrentUser();
        keeper::saveProfiles();
      } else {
        keeper::runPass();
      }
      outcomes[shortcut].push_back({prefs(), table(), takeSwitches(), fileTrace});
    }
    platform::fileCalls() = platform::defaultFileCalls();
  }
  keeper::useSteadyPasses(/*enabled=*/true);
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE("pass " + std::to_string(i + 1));
    EXPECT_EQ(outcomes[1][i].file, outcomes[0][i].file);
    EXPECT_EQ(outcomes[1][i].table, outcomes[0][i].table);
    EXPECT_EQ(outcomes[1][i].switches, outcomes[0][i].switches);
    EXPECT_EQ(outcomes[1][i].calls, outcomes[0][i].calls);
  }
}

TEST_P(KeeperTest, AWriteBackThatFailsWithoutGrowingTheFileIsNotTakenForWritten) {
  const std::string normal = "[alice]\r\nRes_X = 1024\r\nRes_Y = 768\r\n";
  writePrefs(normal);
  keeper::runPass();
  platform::FileCalls calls = platform::defaultFileCalls();
  calls.write = [](platform::FileHandle, const void*, std::uint32_t, std::uint32_t* written) {
    *written = 0;
    return false;
  };
  platform::fileCalls() = calls;
  keeper::runPass();  // would be the first steady pass
  EXPECT_FALSE(prefs::fileTrace().writtenWhole);
  EXPECT_FALSE(keeper::keeperState().steady.known);
  EXPECT_EQ(keeper::storeUserSize(keeper::PREFERENCE_FILE, "alice", 800, 600),
            keeper::StoreStatus::NotWritten);
  EXPECT_EQ(prefs(), visible(normal));
}

TEST_P(KeeperTest, ASteadyPassAllocatesOnlyTheFilesContent) {
  std::string users;
  for (int i = 0; i < 200; ++i) {
    users += "[user" + std::to_string(i) + "]\r\nRes_X = 1024\r\nRes_Y = 768\r\n";
  }
  for (const std::string& file : {users, "\xEF\xBB\xBF\r\n" + users}) {
    SCOPED_TRACE(visible(file.substr(0, 3)));
    keeper::ScopedKeeperDefaults::reset();
    keeper::useUserIndex(GetParam());
    writePrefs(file);
    fakeSystem().userName = "user7";
    keeper::runPass();
    keeper::runPass();  // the first steady pass
    const std::uint64_t before = platform::allocationCount();
    keeper::runPass();
    EXPECT_EQ(platform::allocationCount() - before, 2u) << "one content buffer per step";
    EXPECT_EQ(prefs(), visible(file));
  }
}

// A file a person or an older program may have left: comments, lone LFs, blank lines, keys in
// other cases and without blanks, missing and empty values, extra keys, and later groups whose
// names repeat earlier ones exactly or but for case, where only the first of a name takes the
// writes.
std::string untidyFile(int users) {
  std::string out = "; shared profiles\r\nVersion = 3\r\n\r\n";
  std::string repeats;
  for (int i = 0; i < users; ++i) {
    const std::string name = (i % 3 == 0 ? "User." : "user.") + std::to_string(i);
    const std::string end = i % 7 == 3 ? "\n" : "\r\n";
    const std::string width = std::to_string(640 + i);
    out += "[" + name + "]" + end + (i % 17 == 5 ? "; desk" + end : "");
    out += i % 11 == 2   ? "Res_X=" + width + end
           : i % 11 == 6 ? "  res_x   =   " + width + "  " + end
           : i % 29 == 8 ? "Res_X =" + end
                         : "Res_X = " + width + end;
    if (i % 13 != 4) out += "Res_Y = " + std::to_string(480 + i) + end;
    if (i % 23 == 9) out += "Depth = 32" + end + end;
    if (i % 19 == 7)
      repeats += "[" + (i % 2 == 0 ? name : "USER." + std::to_string(i)) +
                 "]\r\n"
                 "Res_X = 800\r\nRes_Y = 600\r\n";
  }
  return out + repeats;
}

TEST_P(KeeperTest, IndexesAndSteadyPassesLeaveWhatWalkingAndParsingLeave) {
  struct Outcome {
    std::string untidy[2];
    std::vector<Record> table;
    std::vector<DisplaySwitch> switches;
    std::string normal;
  };
  const std::string untidy = untidyFile(300);
  const auto run = [&](bool fast) {
    keeper::clearUserTable();
    keeper::useUserIndex(fast);
    prefs::useGroupIndex(fast);
    keeper::useSteadyPasses(fast);
    Outcome outcome;
    fakeSystem() = FakeSystem{};
    writePrefs(untidy);
    fakeSystem().userName = "Newcomer";  // recorded, and written as a new group at the end
    keeper::runPass();
    outcome.untidy[0] = prefs();
    fakeSystem().userName = "user.100";  // stored 740 x 580: switched
    keeper::runPass();
    outcome.untidy[1] = prefs();
    outcome.table = table();
    outcome.switches = takeSwitches();
    // The normal form stays byte for byte over passes that change nothing.
    outcome.normal = outcome.untidy[1];
    for (int pass = 0; pass < 3; ++pass) keeper::runPass();
    outcome.normal = prefs() == outcome.normal ? "unchanged" : prefs();
    return outcome;
  };
  const Outcome walked = run(false);
  const Outcome fast = run(true);
  EXPECT_NE(walked.untidy[0], visible(untidy));
  EXPECT_EQ(fast.untidy[0], walked.untidy[0]);
  EXPECT_EQ(fast.untidy[1], walked.untidy[1]);
  EXPECT_EQ(fast.table, walked.table);
  EXPECT_EQ(fast.switches, walked.switches);
  EXPECT_EQ(walked.switches, (std::vector<DisplaySwitch>{{740, 580, 32}}));
  EXPECT_EQ(fast.normal, "unchanged");
  EXPECT_EQ(walked.normal, "unchanged");
}

TEST_P(KeeperTest, ManyUsersAreFoundAgainInAnyOrder) {
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(keeper::appendUser(("user" + std::to_string(i)).c_str(), i, -i));
  }
  ASSERT_TRUE(keeper::appendUser("user7", 1, 1));  // a later namesake is never found
  for (int i = 1999; i >= 0; i -= 37) {
    const keeper::UserResolution* record = keeper::findUser(("user" + std::to_string(i)).c_str());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->width, i);
  }
  EXPECT_EQ(keeper::findUser("user7")->width, 7);
  EXPECT_EQ(keeper::findUser("User7"), nullptr);
  EXPECT_EQ(keeper::findUser(""), nullptr);
}

}  // namespace
