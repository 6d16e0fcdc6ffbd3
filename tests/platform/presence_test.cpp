// One keeper per session with real processes: who waits for whom, and what keeperRunning()
// says meanwhile.
#include <gtest/gtest.h>

#include "platform/platform.h"

#ifdef _WIN32
TEST(Presence, TheKeeperIsSeenOnceItHasTakenItsPlace) {
  EXPECT_FALSE(platform::keeperRunning());
  platform::becomeSessionKeeper();  // nothing else in this process waits for it
  EXPECT_TRUE(platform::keeperRunning());
  EXPECT_TRUE(platform::keeperRunning()) << "a probe took the keeper's place";
}
#else
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

// A child that becomes the keeper and then writes a byte to the pipe it gives back.
static int startKeeper(pid_t* pid) {
  int ends[2];
  if (::pipe(ends) != 0 || (*pid = ::fork()) < 0) return -1;
  if (*pid == 0) {
    platform::becomeSessionKeeper();
    (void)!::write(ends[1], "k", 1);
    for (;;) ::pause();
  }
  ::close(ends[1]);
  return ends[0];
}

static bool saysKeeper(int pipe, int milliseconds) {
  pollfd ready{pipe, POLLIN, 0};
  return ::poll(&ready, 1, milliseconds) == 1;
}

TEST(Presence, ASecondKeeperOfOneUserAndDisplayWaitsForTheFirst) {
  char folder[] = "/tmp/presence-test.XXXXXX";  // mode 0700, as a runtime folder must be
  ASSERT_NE(::mkdtemp(folder), nullptr);
  ::setenv("XDG_RUNTIME_DIR", folder, 1);
  ::setenv("DISPLAY", ":41", 1);
  EXPECT_FALSE(platform::keeperRunning());
  pid_t first, second;
  const int firstSays = startKeeper(&first);
  ASSERT_TRUE(saysKeeper(firstSays, 60000));
  for (const char* display : {":41", ":41.1", ":42"}) {
    ::setenv("DISPLAY", display, 1);
    EXPECT_EQ(platform::keeperRunning(), display[2] == '1') << display;
  }
  ::setenv("DISPLAY", ":41.0", 1);
  const int secondSays = startKeeper(&second);
  EXPECT_FALSE(saysKeeper(secondSays, 500)) << "two keepers for one user and display";
  ::kill(first, SIGKILL);
  ::waitpid(first, nullptr, 0);
  EXPECT_TRUE(saysKeeper(secondSays, 60000)) << "the second keeper did not take over";
  EXPECT_TRUE(platform::keeperRunning());
  ::kill(second, SIGKILL);
  ::waitpid(second, nullptr, 0);
  EXPECT_FALSE(platform::keeperRunning());
  std::filesystem::remove_all(folder);
}
#endif
