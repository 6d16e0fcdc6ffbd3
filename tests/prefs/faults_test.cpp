// Failures of memory and of file calls: no crash, no leak, and nothing the file held is lost.
#include <gtest/gtest.h>

#include <functional>

#include "support/invariants.h"
#include "support/store_fixture.h"

namespace {

using testing_support::checkNothingLost;
using testing_support::readBytes;
using testing_support::visible;

const char* const FILES[] = {
    "",
    "; settings\n\n[alice]\nRes_X=1280\nRes_Y = 1024\nother=keep me\n[bob]\n; no values\n",
    "top=1\n  [Bob]trailing\nRes_X=1\n[BOB]\nRes_X=2\nword\n=5\n[carol\nRes_Y=x\n",
    "\xEF\xBB\xBF[J\xC3\xBCrgen]\nRes_X=800\n[\xE2\x82\xAC]\n",
};

// A save-like sequence: existing, case-variant, new and top-level groups, growing values.
void writeSome() {
  prefs::examineGroups();
  while (prefs::nextGroup()) prefs::readLong("Res_X", 1024);
  const char* names[] = {"alice", "BOB", "J\xFCrgen", "dave", "", "Zo\xEB"};
  for (const char* name : names) {
    prefs::selectGroup(name);
    prefs::writeLong("Res_X", 1920);
    prefs::writeLong("Res_Y", -123456);
  }
}

class FaultTest : public testing_support::StoreTest {
 protected:
  std::string cleanRun(const std::string& bytes) {
    const std::string path = fileWith(bytes, "clean.txt");
    EXPECT_TRUE(prefs::openPreferences(path.c_str()));
    writeSome();
    prefs::closePreferences();
    return readBytes(path);
  }

  // Runs the sequence on `bytes` with `arm` called after the file is written; gives the file.
  std::string faultyRun(const std::string& bytes, const std::function<void()>& arm) {
    const std::string path = fileWith(bytes);
    arm();
    if (prefs::openPreferences(path.c_str())) writeSome();
    prefs::closePreferences();
    platform::ScopedPlatformDefaults::reset();
    EXPECT_EQ(prefs::parsedDocument().file, platform::INVALID_FILE);
    return readBytes(path);
  }
};

TEST_F(FaultTest, EveryAllocationCanFailOnceOrForGood) {
  for (const char* file : FILES) {
    const std::string clean = cleanRun(file);
    for (const bool persistent : {false, true}) {
      SCOPED_TRACE(visible(file) + (persistent ? " persistent" : " transient"));
      std::uint64_t n = 1;
      for (;; ++n) {
        const std::uint64_t refusedBefore = platform::injectedAllocationFailures();
        const std::string after = faultyRun(file, [&] { platform::failAllocation(n, persistent); });
        if (platform::injectedAllocationFailures() == refusedBefore) {
          EXPECT_EQ(visible(after), visible(clean)) << "a run without failures is the clean run";
          break;
        }
        EXPECT_EQ(checkNothingLost(file, clean, after), "") << "allocation " << n;
        ASSERT_LT(n, 10000u);
      }
      EXPECT_GT(n, 3u) << "the sequence should meet several allocations";
    }
  }
}

// File calls that fail on request, wrapped around the real ones.
enum class Fault {
  None,
  OpenReadWrite,
  OpenBoth,
  Size,
  Read,
  ShortRead,
  Seek,
  Reserve,
  WriteAtOnce,
  WriteHalfway,
  SetEnd
};
Fault fault = Fault::None;
int seeksLeft = 0;  // seeks that succeed before the one that fails

const platform::FileCalls& real() {
  return platform::defaultFileCalls();
}

constexpr platform::FileCalls FAULTY = {
    .openReadWrite =
        [](const char* path, platform::FileHandle* file) {
          return fault != Fault::OpenReadWrite && fault != Fault::OpenBoth &&
                 real().openReadWrite(path, file);
        },
    .openReadOnly =
        [](const char* path, platform::FileHandle* file) {
          return fault != Fault::OpenBoth && real().openReadOnly(path, file);
        },
    .size = [](platform::FileHandle file,
               std::int64_t* size) { return fault != Fault::Size && real().size(file, size); },
    .read =
        [](platform::FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* got) {
          if (fault == Fault::Read) return false;
          if (fault == Fault::ShortRead && count > 1) count /= 2;
          return real().read(file, buffer, count, got);
        },
    .seek =
        [](platform::FileHandle file, std::int64_t offset) {
          if (fault == Fault::Seek && seeksLeft-- == 0) return false;
          return real().seek(file, offset);
        },
    .reserve =
        [](platform::FileHandle file, std::int64_t length) {
          return fault != Fault::Reserve && real().reserve(file, length);
        },
    .write =
        [](platform::FileHandle file, const void* buffer, std::uint32_t count,
           std::uint32_t* written) {
          if (fault == Fault::WriteAtOnce) {
            *written = 0;
            return false;
          }
          if (fault == Fault::WriteHalfway) {
            real().write(file, buffer, count / 2, written);
            return false;
          }
          return real().write(file, buffer, count, written);
        },
    .setEnd =
        [](platform::FileHandle file) { return fault != Fault::SetEnd && real().setEnd(file); },
    .close = [](platform::FileHandle file) { real().close(file); },
};

TEST_F(FaultTest, FailingFileCallsNeverCostTheFilesContent) {
  struct Case {
    Fault fault;
    const char* name;
  };
  const Case cases[] = {
      {Fault::OpenReadWrite, "read-write open"},
      {Fault::OpenBoth, "both opens"},
      {Fault::Size, "size"},
      {Fault::Read, "read"},
      {Fault::ShortRead, "short read"},
      {Fault::Seek, "seek"},
      {Fault::Reserve, "reservation"},
      {Fault::WriteAtOnce, "write at once"},
      {Fault::WriteHalfway, "write halfway"},
      {Fault::SetEnd, "set end"},
  };
  // A file that grows when written back, one that shrinks, and one with a byte-order mark.
  const std::string files[] = {FILES[1], std::string(FILES[1]) + std::string(400, '\n'), FILES[3]};
  for (const std::string& file : files) {
    const std::string clean = cleanRun(file);
    for (const Case& c : cases) {
      for (int seeks = 0; seeks < (c.fault == Fault::Seek ? 4 : 1); ++seeks) {
        SCOPED_TRACE(std::string(c.name) + " in " + visible(file.substr(0, 40)));
        const std::string after = faultyRun(file, [&] {
          fault = c.fault;
          seeksLeft = seeks;
          platform::fileCalls() = FAULTY;
        });
        fault = Fault::None;
        if (c.fault == Fault::WriteHalfway) {
          EXPECT_GE(after.size(), file.size()) << "a broken write must not shorten the file";
          continue;
        }
        EXPECT_EQ(checkNothingLost(file, clean, after), "");
        if (c.fault == Fault::SetEnd) {
          EXPECT_EQ(testing_support::parseBytes(after).size(),
                    testing_support::parseBytes(clean).size());
        } else if (c.fault == Fault::Reserve && clean.size() <= file.size()) {
          EXPECT_EQ(visible(after), visible(clean)) << "a text that fits needs no reservation";
        } else if (c.fault != Fault::Seek) {
          EXPECT_EQ(visible(after), visible(file)) << "the old bytes must stay";
        }
      }
    }
  }
}

TEST_F(FaultTest, AnOpenThatCannotReadTheWholeFileLeavesTheDocumentClosed) {
  // The seek is the one back to the start after the first three bytes, which are no mark.
  for (const Fault f : {Fault::Size, Fault::Read, Fault::ShortRead, Fault::Seek}) {
    fault = f;
    seeksLeft = 0;
    platform::fileCalls() = FAULTY;
    const std::string path = fileWith(FILES[1]);
    EXPECT_FALSE(prefs::openPreferences(path.c_str()));
    EXPECT_FALSE(prefs::examineGroups());
    fault = Fault::None;
    platform::fileCalls() = platform::defaultFileCalls();
  }
  // An open that cannot get memory for the content fails the same way.
  const std::string path = fileWith(FILES[1]);
  platform::failAllocation(1, /*persistent=*/false);
  EXPECT_FALSE(prefs::openPreferences(path.c_str()));
  EXPECT_EQ(prefs::parsedDocument().file, platform::INVALID_FILE);
}

TEST_F(FaultTest, ASelectionThatCannotGetMemoryDropsTheWritesAfterIt) {
  // A long name in a UTF-8 file needs memory for its conversion; without it, the values meant
  // for that group must not land in the group selected before.
  const std::string path = fileWith("\xEF\xBB\xBF[a]\r\nk = 1\r\n");
  ASSERT_TRUE(prefs::openPreferences(path.c_str()));
  ASSERT_TRUE(prefs::selectGroup("a"));
  platform::failAllocation(1, /*persistent=*/false);
  EXPECT_FALSE(prefs::selectGroup(std::string(400, 'x').c_str()));
  prefs::writeLong("k", 2);
  EXPECT_EQ(prefs::readLong("k", -1), -1);
  ASSERT_TRUE(prefs::selectGroup("a"));
  EXPECT_EQ(prefs::readLong("k", -1), 1);
  prefs::closePreferences();
  EXPECT_EQ(readBytes(path), "\xEF\xBB\xBF[a]\r\nk = 1\r\n");
}

TEST_F(FaultTest, SizesBeyondTwoGibibytesAreRefused) {
  static std::int64_t reported = 0;
  platform::FileCalls calls = platform::defaultFileCalls();
  calls.size = [](platform::FileHandle, std::int64_t* size) {
    *size = reported;
    return true;
  };
  platform::fileCalls() = calls;
  const std::string path = fileWith("[a]\n");
  for (const std::int64_t size :
       {std::int64_t{INT32_MAX} + 1, std::int64_t{-1}, std::int64_t{1} << 40}) {
    reported = size;
    EXPECT_FALSE(prefs::openPreferences(path.c_str())) << size;
  }
  EXPECT_EQ(readBytes(path), "[a]\n");
}

}  // namespace
