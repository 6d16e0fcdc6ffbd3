// The Windows write handle of the preference file: it is granted reading and writing the bytes
// and nothing more, and that is enough for the rewrite in place (wine, like Windows, checks the
// handle's access at every call), while a handle that may not write the bytes is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "platform/tools.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#include <winternl.h>

namespace {

using testing_support::readBytes;
using testing_support::TempFolder;
using testing_support::writeBytes;

// The access a handle was granted, as the system records it.
ACCESS_MASK grantedAccess(platform::FileHandle file) {
  ACCESS_MASK granted = 0;  // FILE_ACCESS_INFORMATION
  IO_STATUS_BLOCK status{};
  if (::NtQueryInformationFile(reinterpret_cast<HANDLE>(file), &status, &granted, sizeof granted,
                               FileAccessInformation) != 0) {
    return 0;
  }
  return granted;
}

TEST(WriteHandle, ReadsAndWritesTheBytesOnlyAndRewritesInPlace) {
  platform::ScopedPlatformDefaults defaults;
  TempFolder folder;
  const std::string path = folder.file("Pref.txt");
  writeBytes(path, "0123456789");
  const platform::FileCalls& calls = platform::fileCalls();
  platform::FileHandle file = platform::INVALID_FILE;
  std::uint32_t written = 0;

  ASSERT_TRUE(calls.openReadWrite(path.c_str(), &file));
  EXPECT_EQ(grantedAccess(file), static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_WRITE_DATA));
  EXPECT_TRUE(calls.reserve(file, 32));  // grows the file: SetEndOfFile past its end
  EXPECT_TRUE(calls.seek(file, 0));
  EXPECT_TRUE(calls.write(file, "[alice]\r\n", 9, &written));
  EXPECT_TRUE(calls.setEnd(file));  // and cuts it after what was written
  calls.close(file);
  EXPECT_EQ(readBytes(path), "[alice]\r\n");

  ASSERT_TRUE(calls.openReadOnly(path.c_str(), &file));
  EXPECT_FALSE(calls.write(file, "x", 1, &written));
  EXPECT_FALSE(calls.setEnd(file));
  EXPECT_FALSE(calls.reserve(file, 64));
  calls.close(file);
  EXPECT_EQ(readBytes(path), "[alice]\r\n");
}

// Opened only by its own path (as the tools run elevated), a file with another name is refused
// by the store's opens and the probe alike, and a file reached by its own full path opens.
TEST(WriteHandle, ByItsOwnPathAFileWithAnotherNameIsRefused) {
  platform::ScopedPlatformDefaults defaults;
  TempFolder folder;
  const std::string plain = folder.file("Pref.txt");
  const std::string linked = folder.file("linked.txt");
  writeBytes(plain, "[a]\r\n");
  writeBytes(folder.file("other.txt"), "[b]\r\n");
  ASSERT_TRUE(::CreateHardLinkA(linked.c_str(), folder.file("other.txt").c_str(), nullptr));
  platform::openOnlyByOwnPath();
  platform::FileHandle file = platform::INVALID_FILE;
  EXPECT_FALSE(platform::fileCalls().openReadOnly(linked.c_str(), &file));
  EXPECT_EQ(platform::probeOpen(linked.c_str(), /*forWriting=*/true), platform::OpenProbe::Denied);
  ASSERT_TRUE(platform::fileCalls().openReadWrite(plain.c_str(), &file));
  platform::fileCalls().close(file);
}

}  // namespace
#endif
