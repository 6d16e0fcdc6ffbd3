// The keeper's operations for the programs beside it: a load that gives what the keeper's own
// load step gives, and a store after which the keeper keeps the size, whatever the file holds.
#include "keeper/profiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "keeper/keeper_testing.h"
#include "platform/platform_testing.h"
#include "prefs/prefs.h"
#include "prefs/prefs_testing.h"
#include "support/fake_system.h"
#include "support/temp_folder.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using testing_support::fakeSystem;
using testing_support::readBytes;
using testing_support::visible;
using testing_support::writeBytes;

struct Record {
  std::string name;
  std::int32_t width;
  std::int32_t height;
  bool operator==(const Record&) const = default;
};

std::vector<Record> recordsOf(const keeper::UserResolutionTable& table) {
  std::vector<Record> records;
  for (std::uint32_t i = 0; i < table.count; ++i) {
    records.push_back({table.records[i].userName, table.records[i].width, table.records[i].height});
  }
  return records;
}

class ProfilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeSystem() = testing_support::FakeSystem{};
    previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
  }
  void TearDown() override { std::filesystem::current_path(previous); }

  platform::ScopedPlatformDefaults platformDefaults;
  prefs::ScopedStoreDefaults storeDefaults;
  keeper::ScopedKeeperDefaults keeperDefaults;
  testing_support::TempFolder folder;
  std::filesystem::path previous;
};

const char* const FILES[] = {
    "; users\n[bob]\nRes_X=800\nRes_Y=600\n[Bob]\nRes_X=1\n[carol]\n[bob]\nRes_X=640\nRes_Y=480\n"
    "[]\nRes_X=5\n",
    "\xEF\xBB\xBF[J\xC3\xBCrgen]\nRes_X=1920\nRes_Y=1080\n[\xE2\x82\xAC]\nRes_X=2\n[j\xC3\xBCRGEN]"
    "\n",
    "",
};

TEST_F(ProfilesTest, ALoadGivesTheKeepersRecordsAndTouchesNothing) {
  for (const char* file : FILES) {
    SCOPED_TRACE(visible(file));
    writeBytes(keeper::PREFERENCE_FILE, file);
    keeper::ScopedKeeperDefaults::reset();
    keeper::loadProfiles();
    const std::vector<Record> kept = recordsOf(keeper::userTable());
    ASSERT_TRUE(keeper::appendUser("someone", 1, 2));
    const keeper::LoadedProfiles loaded = keeper::loadProfilesAt(keeper::PREFERENCE_FILE);
    EXPECT_EQ(loaded.status, keeper::LoadStatus::Loaded);
    EXPECT_EQ(loaded.encoding,
              file[0] == '\xEF' ? keeper::FileEncoding::Utf8 : keeper::FileEncoding::Ansi);
    EXPECT_EQ(recordsOf(loaded.table), kept);
    EXPECT_EQ(keeper::userTable().count, kept.size() + 1) << "the keeper's own table is its own";
    EXPECT_EQ(readBytes(keeper::PREFERENCE_FILE), file);
  }
  EXPECT_EQ(keeper::loadProfilesAt("Data/none.txt").status, keeper::LoadStatus::NotOpened);
}

TEST_F(ProfilesTest, AStoredSizeIsWhatTheKeeperThenKeeps) {
  const char* const names[] = {"bob", "BOB", "carol", "dave", "J\xFCrgen", "Zo\xEB"};
  for (const char* file : FILES) {
    for (const char* name : names) {
      SCOPED_TRACE(visible(file) + " for " + visible(name));
      writeBytes(keeper::PREFERENCE_FILE, file);
      ASSERT_EQ(keeper::storeUserSize(keeper::PREFERENCE_FILE, name, 1280, 960),
                keeper::StoreStatus::Stored);
      // Every case variant of the name holds the size, and one group is named exactly so.
      const keeper::LoadedProfiles loaded = keeper::loadProfilesAt(keeper::PREFERENCE_FILE);
      EXPECT_NE(keeper::findProfile(loaded, name), nullptr);
      for (const Record& r : recordsOf(loaded.table)) {
        if (!prefs::namesMatch(r.name.c_str(), name, prefs::NameMatch::IgnoreAsciiCase)) continue;
        EXPECT_EQ(r, (Record{r.name, 1280, 960}));
      }
      // A display that already shows the size would hide a record the keeper makes itself.
      keeper::ScopedKeeperDefaults::reset();
      fakeSystem() = testing_support::FakeSystem{};
      fakeSystem().userName = name;
      for (int pass = 0; pass < 3; ++pass) keeper::runPass();
      const keeper::UserResolution* record = keeper::findUser(name);
      ASSERT_NE(record, nullptr);
      EXPECT_EQ((Record{name, record->width, record->height}), (Record{name, 1280, 960}));
    }
  }
}

TEST_F(ProfilesTest, AStoreThatCannotLandChangesNothing) {
  const std::string file = "[bob]\nRes_X=800\n";
  writeBytes(keeper::PREFERENCE_FILE, file);
  for (const char* name : {"", "a]b", "a\nb", "a\rb"}) {
    EXPECT_EQ(keeper::storeUserSize(keeper::PREFERENCE_FILE, name, 1, 1),
              keeper::StoreStatus::NotKept);
  }
  EXPECT_EQ(keeper::storeUserSize("Data/none.txt", "bob", 1, 1), keeper::StoreStatus::NotOpened);
  // A file this user may only read: the store opens it for reading and cannot write it back.
  platform::fileCalls().openReadWrite = [](const char*, platform::FileHandle*) { return false; };
  EXPECT_EQ(keeper::storeUserSize(keeper::PREFERENCE_FILE, "bob", 1, 1),
            keeper::StoreStatus::NotWritten);
  EXPECT_EQ(readBytes(keeper::PREFERENCE_FILE), file);
}

TEST_F(ProfilesTest, ALoadOrAStoreShortOfMemorySaysSoAndChangesNothing) {
  // Case variants of the name, one with a key and fifty without (their writes need more memory
  // than the document keeps spare), around another user's group; none is the name exactly, so
  // a group is appended after carol's. The name is long enough to need memory of its own in a
  // UTF-8 file.
  static const std::string name = "Bob" + std::string(300, 'x');
  std::string file = "\xEF\xBB\xBF[bob" + name.substr(3) + "]\nRes_X=8\n";
  for (int i = 0; i < 50; ++i) file += "[bob" + name.substr(3) + "]\n";
  file += "[alice]\nRes_X=1\nRes_Y=2\n[BOB" + std::string(300, 'X') + "]\nRes_Y=600000\n[carol]\n";
  const auto store = [] {
    return keeper::storeUserSize(keeper::PREFERENCE_FILE, name.c_str(), 1280, 960);
  };
  writeBytes(keeper::PREFERENCE_FILE, file);
  const std::vector<Record> all = recordsOf(keeper::loadProfilesAt(keeper::PREFERENCE_FILE).table);
  ASSERT_EQ(store(), keeper::StoreStatus::Stored);
  const std::string stored = readBytes(keeper::PREFERENCE_FILE);
  for (std::uint64_t n = 1; n < 1000; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " failing");
    const std::uint64_t refused = platform::injectedAllocationFailures();
    writeBytes(keeper::PREFERENCE_FILE, file);
    platform::failAllocation(n, /*persistent=*/false);
    const keeper::LoadedProfiles loaded = keeper::loadProfilesAt(keeper::PREFERENCE_FILE);
    if (loaded.status == keeper::LoadStatus::Loaded) {
      EXPECT_EQ(recordsOf(loaded.table), all);
    }
    // The load closed the file: another program may open it for writing.
    platform::FileHandle writer = platform::INVALID_FILE;
    ASSERT_TRUE(platform::fileCalls().openReadWrite(keeper::PREFERENCE_FILE, &writer));
    platform::fileCalls().close(writer);

    platform::failAllocation(n, /*persistent=*/false);
    const keeper::StoreStatus status = store();
    platform::failAllocation(0, /*persistent=*/false);
    if (status == keeper::StoreStatus::Stored) {
      EXPECT_EQ(visible(readBytes(keeper::PREFERENCE_FILE)), visible(stored));
    } else {
      EXPECT_NE(status, keeper::StoreStatus::NotKept);  // NotOpened: no memory for the content
      EXPECT_EQ(visible(readBytes(keeper::PREFERENCE_FILE)), visible(file));
    }
    if (platform::injectedAllocationFailures() == refused || HasFailure()) break;
  }
}

#if defined(__SANITIZE_ADDRESS__)
// Under the sanitizers: a load leaves no memory behind, and the leak check that says so is on.
TEST_F(ProfilesTest, ALoadLeavesNoMemoryBehind) {
  static std::uintptr_t hidden[64];  // memory nothing points to: its addresses kept inverted
  for (std::uintptr_t& a : hidden) a = ~reinterpret_cast<std::uintptr_t>(platform::allocate(32));
  EXPECT_NE(__lsan_do_recoverable_leak_check(), 0) << "the leak check is off";
  for (const std::uintptr_t a : hidden) platform::release(reinterpret_cast<void*>(~a));
  writeBytes(keeper::PREFERENCE_FILE, FILES[0]);
  EXPECT_EQ(keeper::loadProfilesAt(keeper::PREFERENCE_FILE).status, keeper::LoadStatus::Loaded);
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
}
#endif

}  // namespace
