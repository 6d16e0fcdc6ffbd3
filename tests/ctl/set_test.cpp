// set against a fake file, display and clock, the keeper's passes played by the fake's answers:
// what it stores, how long it waits and what it gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ctl/ctl.h"
#include "ctl/set_testing.h"

namespace {

using ctl::FileAccess;
using ctl::SetResult;
using ctl::Size;
using keeper::StoreStatus;

// What the fakes answer (from a list: in turn, the last one repeated) and what set asked.
struct Fake {
  std::vector<FileAccess> writable = {FileAccess::Fine};  // probeWritable
  StoreStatus store = StoreStatus::Stored;
  platform::OpenProbe probe = platform::OpenProbe::Opened;
  bool keeperRuns = false;
  std::vector<std::int64_t> stamps = {1};  // fileStamp: after the store, then at each look
  Size kept;                               // the user's record in the file
  int stores = 0;
  int loads = 0;
  std::uint64_t sleptMs = 0;
} fake;

template <typename T>
T next(std::vector<T>& answers) {
  const T answer = answers.front();
  if (answers.size() > 1) answers.erase(answers.begin());
  return answer;
}

const ctl::SetCalls FAKE_CALLS = {
    .listModes =
        [](std::vector<ctl::Mode>& modes) {
          modes = {{{800, 600}, {}}};
          return true;
        },
    .screenSize =
        [] {
          return Size{800, 600};
        },
    .regularFileExists = [](const char*) { return true; },
    .probeWritable = [](const std::string&) { return next(fake.writable); },
    .loadWaiting =
        [](const std::string&, std::vector<ctl::Record>& records, keeper::FileEncoding&) {
          ++fake.loads;
          records = {{"bob", fake.kept}};
          return FileAccess::Fine;
        },
    .storeUserSize =
        [](const char*, const char*, std::int32_t width, std::int32_t height) {
          ++fake.stores;
          if (fake.store == StoreStatus::Stored) fake.kept = {width, height};
          return fake.store;
        },
    .probeOpen = [](const char*, bool) { return fake.probe; },
    .fileStamp =
        [](const char*, std::int64_t* stamp) {
          *stamp = next(fake.stamps);
          return true;
        },
    .keeperRunning = [] { return fake.keeperRuns; },
    .sleepMilliseconds = [](std::uint32_t ms) { fake.sleptMs += ms; },
};

class SetTest : public ::testing::Test {
 protected:
  void SetUp() override { ctl::setCalls() = FAKE_CALLS; }
  void TearDown() override { ctl::setCalls() = ctl::defaultSetCalls(); }

  // Stores `size` for bob, with --force or without.
  static SetResult set(Size size, bool force = true) {
    ctl::SetRequest request{"bob", true, size, force};
    return ctl::setResolution(FOLDER, request).result;
  }
  static inline const ctl::Folder FOLDER{"/f", ctl::FolderSource::Option, ctl::Layout::PerUser};
};

TEST_F(SetTest, AFileWhoseRightsChangeAfterTheFirstCheckGives5AtOnce) {
  // The store cannot open the file at all, or only for reading.
  for (const StoreStatus store : {StoreStatus::NotOpened, StoreStatus::NotWritten}) {
    for (const bool keeperRuns : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(store)) + (keeperRuns ? " keeper" : ""));
      fake = Fake{};
      fake.writable = {FileAccess::Fine, FileAccess::Unwritable};
      fake.store = store;
      fake.probe = platform::OpenProbe::Denied;
      fake.keeperRuns = keeperRuns;
      EXPECT_EQ(set({1024, 768}), SetResult::Unwritable);
      EXPECT_EQ(fake.sleptMs, 0u);
      EXPECT_EQ(fake.stores, 1);
    }
  }
}

TEST_F(SetTest, ASizeBeyondWhatTheKeeperCanStoreIsRefusedOnEveryPath) {
  fake = Fake{};
  for (const Size size :
       {Size{0, 600}, Size{800, 0}, Size{-800, 600}, Size{32768, 600}, Size{800, 32768}}) {
    SCOPED_TRACE(ctl::sizeText(size));
    EXPECT_EQ(set(size, false), SetResult::Refused);
    EXPECT_EQ(set(size, true), SetResult::Refused);
    const ctl::SetRequest request{"bob", true, {800, 600}};
    const ctl::SetOutcome returned =
        ctl::returnToPrevious(FOLDER, request, {SetResult::Kept, "stored", size, true});
    EXPECT_EQ(returned.result, SetResult::Refused);
  }
  EXPECT_EQ(fake.stores, 0);
}

TEST_F(SetTest, TheWaitForTheKeeperSeesTwoSeparateSaves) {
  const struct {
    std::vector<std::int64_t> stamps;
    int loads;  // the size before, then each check
    std::uint64_t sleptMs;
  } cases[] = {
      {{1, 1, 2, 2, 3}, 2, 4 * 50},    // two saves: seen at the fourth look
      {{1, 1, 2}, 3, 160 * 50 + 600},  // one save, seen again and again: the whole wait, a pass
  };
  for (const auto& c : cases) {
    fake = Fake{};
    fake.keeperRuns = true;
    fake.stamps = c.stamps;
    EXPECT_EQ(set({800, 600}), SetResult::Kept);  // the size the screen shows: no wait for it
    EXPECT_EQ(fake.loads, c.loads);
    EXPECT_EQ(fake.sleptMs, c.sleptMs);
  }
}

}  // namespace
