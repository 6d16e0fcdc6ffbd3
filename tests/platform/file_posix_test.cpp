// The POSIX file calls open regular files only: a FIFO among the others, since a keeper that
// opened one for reading would wait for a writer for ever. A refused open keeps no descriptor.
// Linux only (the descriptors are counted in /proc).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/platform.h"
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

}  // namespace
