// The POSIX file calls open regular files only: a FIFO among the others, since a keeper that
// opened one for reading would wait for a writer for ever. A refused open keeps no descriptor.
// A file another process holds is told from a missing one. Linux only (the descriptors are
// counted in /proc).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "platform/tools.h"
#include "support/temp_folder.h"

namespace {

std::size_t openDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

TEST(PosixFiles, OnlyRegularFilesOpenAndARefusalKeepsNoDescriptor) {
  const testing_support::TempFolder folder;
  const std::string fifo = folder.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string held = folder.file("held");  // held for writing: its lock is refused
  testing_support::writeBytes(held, "[a]\n");
  const platform::FileCalls& io = platform::fileCalls();
  platform::FileHandle holder = platform::INVALID_FILE;
  ASSERT_TRUE(io.openReadWrite(held.c_str(), &holder));
  const std::size_t before = openDescriptors();
  for (const std::string& path : {fifo, folder.path().string(), std::string("/dev/null"), held}) {
    int opened = 0;
    for (int round = 0; round < 100; ++round) {
      platform::FileHandle file = platform::INVALID_FILE;
      opened += io.openReadWrite(path.c_str(), &file);
      opened += io.openReadOnly(path.c_str(), &file);
    }
    EXPECT_EQ(opened, 0) << path;
  }
  EXPECT_EQ(openDescriptors(), before);
  io.close(holder);
}

// A held file is told from a missing or refused one, so that the tools wait for it.
TEST(PosixFiles, AFileAnotherProcessHoldsIsHeldNotMissing) {
  const testing_support::TempFolder folder;
  const std::string path = folder.file("Pref.txt");
  testing_support::writeBytes(path, "[a]\n");
  EXPECT_EQ(platform::probeOpen(folder.file("none").c_str(), false), platform::OpenProbe::Missing);
  EXPECT_EQ(platform::probeOpen(path.c_str(), /*forWriting=*/true), platform::OpenProbe::Opened);

  // Locked by another open of the file, which meets it as another process's would.
  platform::FileHandle holder = platform::INVALID_FILE;
  ASSERT_TRUE(platform::fileCalls().openReadWrite(path.c_str(), &holder));
  EXPECT_EQ(platform::probeOpen(path.c_str(), /*forWriting=*/false), platform::OpenProbe::Busy);
  EXPECT_EQ(platform::probeOpen(path.c_str(), /*forWriting=*/true), platform::OpenProbe::Busy);
  platform::fileCalls().close(holder);

  // A lease (as a file server takes one): the open that would break it is refused for now.
  const int leaseHolder = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(leaseHolder, 0);
  const auto previous = ::signal(SIGIO, SIG_IGN);  // the holder's news of the break
  if (::fcntl(leaseHolder, F_SETLEASE, F_RDLCK) == 0) {
    EXPECT_EQ(platform::probeOpen(path.c_str(), /*forWriting=*/true), platform::OpenProbe::Busy);
    ::fcntl(leaseHolder, F_SETLEASE, F_UNLCK);
  }
  ::signal(SIGIO, previous);
  ::close(leaseHolder);
}

// Opened only by its own path, a file reached through a link, a link itself, or one with
// another name is refused as one this user may not open; the plain one opens.
TEST(PosixFiles, ByItsOwnPathNoLinkIsFollowed) {
  const testing_support::TempFolder folder;
  std::filesystem::create_directories(folder.path() / "real" / "Data");
  const std::string plain = folder.file("real/Data/Pref.txt");
  testing_support::writeBytes(plain, "[a]\n");
  testing_support::writeBytes(folder.file("other.txt"), "[b]\n");
  std::filesystem::create_directory_symlink(folder.path() / "real", folder.path() / "linked");
  std::filesystem::create_symlink(plain, folder.path() / "real" / "symlink.txt");
  std::filesystem::create_hard_link(folder.file("other.txt"), folder.file("real/hard.txt"));
  platform::ScopedPlatformDefaults defaults;
  EXPECT_EQ(platform::probeOpen(folder.file("linked/Data/Pref.txt").c_str(), true),
            platform::OpenProbe::Opened);  // any path reaches it, until told otherwise
  platform::openOnlyByOwnPath();
  for (const char* other : {"linked/Data/Pref.txt", "real/symlink.txt", "real/hard.txt"}) {
    EXPECT_EQ(platform::probeOpen(folder.file(other).c_str(), true), platform::OpenProbe::Denied)
        << other;
    platform::FileHandle file = platform::INVALID_FILE;
    EXPECT_FALSE(platform::fileCalls().openReadOnly(folder.file(other).c_str(), &file)) << other;
  }
  EXPECT_EQ(platform::probeOpen(plain.c_str(), /*forWriting=*/true), platform::OpenProbe::Opened);
  platform::FileHandle file = platform::INVALID_FILE;
  ASSERT_TRUE(platform::fileCalls().openReadWrite(plain.c_str(), &file));
  platform::fileCalls().close(file);
}

}  // namespace
