// The kernel itself refusing a write-back's growth: under a file size limit just below the new
// text's size, with SIGXFSZ ignored so that the refusal comes back as EFBIG, the reservation
// fails and the file keeps its old bytes. Linux only.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "keeper/keeper.h"
#include "keeper/keeper_testing.h"
#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "support/fake_system.h"
#include "support/temp_folder.h"

namespace {

using testing_support::fakeSystem;
using testing_support::readBytes;
using testing_support::visible;
using testing_support::writeBytes;

int reservations = 0;
int refusedReservations = 0;

// Puts the process's file size limit and SIGXFSZ disposition back however the test ends.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &savedAction_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    set_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    sigaction(SIGXFSZ, &savedAction_, nullptr);
  }
  bool set() const { return set_; }

 private:
  rlimit saved_{};
  struct sigaction savedAction_ {};
  bool set_ = false;
};

TEST(KernelRefusal, AGrowthBeyondTheFileSizeLimitKeepsTheOldBytes) {
  const platform::ScopedPlatformDefaults platformDefaults;
  const keeper::ScopedKeeperDefaults keeperDefaults;
  testing_support::TempFolder folder;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  const std::string old = "; users\n[alice]\nRes_X=1280\nRes_Y=1024\n";
  const auto start = [&] {
    keeper::clearUserTable();
    fakeSystem() = testing_support::FakeSystem{};
    fakeSystem().userName = "carol";  // a new user: the write-back grows
    writeBytes(keeper::PREFERENCE_FILE, old);
  };
  start();
  keeper::runPass();
  const std::string clean = readBytes(keeper::PREFERENCE_FILE);
  ASSERT_GT(clean.size(), old.size() + 1);

  start();
  static platform::FileCalls watched;
  watched = platform::defaultFileCalls();
  watched.reserve = [](platform::FileHandle file, std::int64_t length) {
    ++reservations;
    const bool granted = platform::defaultFileCalls().reserve(file, length);
    if (!granted) ++refusedReservations;
    return granted;
  };
  platform::fileCalls() = watched;
  {
    const FileSizeLimit limit(clean.size() - 1);
    ASSERT_TRUE(limit.set());
    keeper::runPass();
  }
  platform::fileCalls() = platform::defaultFileCalls();
  EXPECT_EQ(reservations, 1);
  EXPECT_EQ(refusedReservations, 1) << "the kernel should have refused the growth";
  EXPECT_EQ(visible(readBytes(keeper::PREFERENCE_FILE)), visible(old));

  keeper::runPass();  // the limit is gone
  EXPECT_EQ(visible(readBytes(keeper::PREFERENCE_FILE)), visible(clean));
  std::filesystem::current_path(previous);
}

}  // namespace
