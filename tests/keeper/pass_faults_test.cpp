// Faults over whole passes (load, apply, save): every allocation of a pass, and every file call
// of a pass, failed in turn. After each faulty pass nothing the file held is lost, and the next
// pass without faults brings the table, the display and the file to what a pass without faults
// gives from the same start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "keeper/keeper.h"
#include "keeper/keeper_testing.h"
#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "support/fake_system.h"
#include "support/invariants.h"
#include "support/temp_folder.h"

namespace {

using testing_support::checkNothingLost;
using testing_support::fakeSystem;
using testing_support::readBytes;
using testing_support::visible;

// 1,000 users in a loose form (LF, no blanks around '='), so that the write-back grows.
std::string thousandUsers() {
  std::string text = "; generated\n";
  for (int i = 0; i < 1000; ++i) {
    const std::string n = std::to_string(i);
    text += "[user" + n + "]\nRes_X=" + std::to_string(640 + i) +
            "\nRes_Y=" + std::to_string(480 + i) + "\n";
  }
  return text;
}

// Where a pass starts: the file's bytes and the user at the screen, and for a keeper that has
// run before, the file its table was loaded from (edited by hand since).
struct Start {
  const char* name;
  std::string bytes;
  std::string user;
  std::string earlier;  // empty: the program's first pass
};

void PrintTo(const Start& start, std::ostream* out) {
  *out << start.name;
}

const std::vector<Start>& starts() {
  static const std::vector<Start> all = {
      {"Small", "[alice]\nRes_X=1280\nRes_Y=1024\n[bob]\nRes_X=800\nRes_Y=600\n", "alice", ""},
      {"SmallNewUser", "[alice]\nRes_X=1280\nRes_Y=1024\n[bob]\nRes_X=800\nRes_Y=600\n", "carol",
       ""},
      {"EditedWhileRunning", "[alice]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n[bob]\r\nRes_X = 800\r\n",
       "alice", "[alice]\r\nRes_X = 1600\r\nRes_Y = 900\r\n[bob]\r\nRes_X = 640\r\n"},
      // The same values as the table holds, in a form the write-back changes.
      {"UntidyWhileRunning", "[alice]\nRes_X=1280\nRes_Y=1024\n[bob]\nRes_X=800\nRes_Y=600\n",
       "alice",
       "[alice]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n[bob]\r\nRes_X = 800\r\nRes_Y = 600\r\n"},
      {"Utf8",
       "\xEF\xBB\xBF[J\xC3\xBCrgen]\nRes_X=1920\nRes_Y=1080\n[\xE2\x82\xAC]\nRes_X=1\n"
       "[Ren\xC3\xA9\x65]\nRes_X=1600\nRes_Y=900\n",
       "J\xFCrgen", ""},
      {"Utf8NewUser", "\xEF\xBB\xBF[J\xC3\xBCrgen]\nRes_X=1920\nRes_Y=1080\n", "Zo\xEB", ""},
      {"ThousandUsers", thousandUsers(), "user777", ""},
      // Comments, blank runs, a group without ']', a key without '=', odd values, a name in
      // two cases, and blanks that the normal form drops, so that the write-back shrinks.
      {"OddLines",
       "; settings\n\n\n  ;   indented\ntop = 1\n[dave]   trailing\nRes_X =   1280x\nRes_Y =\n"
       "colour = blue\n[bob]\n  ; no values\n[BOB]\nRes_X=1024\n[Carol\nRes_Y=abc\nword\n=5\n"
       "[dave]\nRes_X=2\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n",
       "dave", ""},
  };
  return all;
}

struct Record {
  std::string name;
  std::int32_t width;
  std::int32_t height;
  bool operator==(const Record&) const = default;
};

// The same records, in any order: a record that could not be added at one pass is added at the
// next, after those that came in meanwhile, and the table never reorders.
bool sameRecords(std::vector<Record> a, std::vector<Record> b) {
  const auto byName = [](const Record& x, const Record& y) { return x.name < y.name; };
  std::stable_sort(a.begin(), a.end(), byName);
  std::stable_sort(b.begin(), b.end(), byName);
  return a == b;
}

std::string describe(const std::vector<Record>& table) {
  std::string text;
  for (const Record& r : table) {
    text += visible(r.name) + " " + std::to_string(r.width) + "x" + std::to_string(r.height) + "; ";
  }
  return text;
}

// What a pass leaves behind.
struct Outcome {
  std::vector<Record> table;
  std::string file;
  std::int32_t width;
  std::int32_t height;
};

class PassFaultTest : public ::testing::TestWithParam<Start> {
 protected:
  void SetUp() override {
    previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    clean = run([] {});
    // A second pass changes nothing, so that what one pass after a fault gives can be
    // compared with it.
    keeper::runPass();
    const Outcome again = outcome();
    ASSERT_EQ(visible(again.file), visible(clean.file));
    ASSERT_TRUE(again.table == clean.table);
  }
  void TearDown() override { std::filesystem::current_path(previous); }

  static void disarm() {
    platform::failAllocation(0, /*persistent=*/false);
    platform::fileCalls() = platform::defaultFileCalls();
  }

  // Brings table, display and file to the start, then runs one pass with `arm` called just
  // before it; the faults are switched off again after it.
  template <typename Arm>
  Outcome run(const Arm& arm) {
    const Start& start = GetParam();
    keeper::clearUserTable();
    fakeSystem() = testing_support::FakeSystem{};
    fakeSystem().userName = start.user;
    if (!start.earlier.empty()) {
      testing_support::writeBytes(keeper::PREFERENCE_FILE, start.earlier);
      keeper::runPass();
    }
    testing_support::writeBytes(keeper::PREFERENCE_FILE, start.bytes);
    arm();
    const std::uint64_t before = platform::allocationCount();
    keeper::runPass();
    passAllocations = platform::allocationCount() - before;
    disarm();
    return outcome();
  }

  static Outcome outcome() {
    Outcome out{{}, readBytes(keeper::PREFERENCE_FILE), fakeSystem().width, fakeSystem().height};
    const keeper::UserResolutionTable& t = keeper::userTable();
    for (std::uint32_t i = 0; i < t.count; ++i) {
      out.table.push_back({t.records[i].userName, t.records[i].width, t.records[i].height});
    }
    return out;
  }

  // The checks after a faulty pass that left `after`: nothing lost, and a clean pass mends all.
  void expectNothingLostAndMended(const Outcome& after) {
    EXPECT_EQ(checkNothingLost(GetParam().bytes, clean.file, after.file), "");
    keeper::runPass();
    const Outcome mended = outcome();
    EXPECT_EQ(visible(mended.file), visible(clean.file)) << "the next pass's file";
    EXPECT_TRUE(sameRecords(mended.table, clean.table))
        << "the next pass's table: " << describe(mended.table) << "\ninstead of "
        << describe(clean.table);
    EXPECT_EQ(mended.width, clean.width);
    EXPECT_EQ(mended.height, clean.height);
    // No name repeats, so each record is what its name finds, whatever its index went through.
    const keeper::UserResolutionTable& t = keeper::userTable();
    for (std::uint32_t i = 0; i < t.count; ++i) {
      EXPECT_EQ(keeper::findUser(t.records[i].userName), &t.records[i]) << t.records[i].userName;
    }
  }

  testing_support::TempFolder folder;
  std::filesystem::path previous;
  Outcome clean;
  std::uint64_t passAllocations = 0;  // those the last run's pass asked for
};

INSTANTIATE_TEST_SUITE_P(Files, PassFaultTest, ::testing::ValuesIn(starts()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Memory ------------------------------------------------------------------------------

// The allocation numbers to fail, given how many a clean pass makes. Every one for passes of a
// few hundred allocations. The 1,000-user file makes some 2,000 per pass, and sweeping them all
// takes about a minute under the sanitizers, so there every one of the first and last 100 (the
// opens, the index and table growth, the write-back) is failed, and an even sample between.
std::uint64_t nextAllocation(std::uint64_t n, std::uint64_t total) {
  constexpr std::uint64_t EDGE = 100;
  constexpr std::uint64_t MIDDLE_SAMPLES = 120;
  if (total <= 2 * EDGE + MIDDLE_SAMPLES || n < EDGE || n + EDGE >= total) return n + 1;
  const std::uint64_t stride = (total - 2 * EDGE) / MIDDLE_SAMPLES;
  return std::min(n + stride, total - EDGE);
}

TEST_P(PassFaultTest, EveryAllocationOfAPassCanFailOnceOrForGood) {
  run([] {});
  const std::uint64_t total = passAllocations;
  ASSERT_GT(total, 4u);
  for (const bool persistent : {false, true}) {
    std::uint64_t swept = 0;
    for (std::uint64_t n = 1;; n = nextAllocation(n, total)) {
      SCOPED_TRACE(std::string(persistent ? "persistent" : "transient") +
                   " failure of allocation " + std::to_string(n) + " of " + std::to_string(total));
      const std::uint64_t refused = platform::injectedAllocationFailures();
      const Outcome after = run([&] { platform::failAllocation(n, persistent); });
      if (platform::injectedAllocationFailures() == refused) {
        EXPECT_EQ(visible(after.file), visible(clean.file)) << "a pass without failures";
        EXPECT_TRUE(sameRecords(after.table, clean.table));
        break;
      }
      ++swept;
      expectNothingLostAndMended(after);
      ASSERT_LT(n, 100000u);
      if (HasFailure()) break;  // one broken point tells the story; the rest repeat it
    }
    RecordProperty(persistent ? "persistent_points" : "transient_points", static_cast<int>(swept));
    std::printf("%s: %llu allocations per clean pass, %llu %s failure points swept\n",
                GetParam().name, static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(swept), persistent ? "persistent" : "transient");
  }
}

// ---- Files -------------------------------------------------------------------------------

// The file calls a pass makes, counted one counter per kind.
enum Kind { OPEN_READ_WRITE, OPEN_READ_ONLY, SIZE, READ, SEEK, RESERVE, WRITE, SET_END, KINDS };

// How the chosen call fails.
enum class Mode {
  Fail,         // reports failure, doing nothing
  AndReadOnly,  // a read-write open fails, and so does the read-only open tried after it
  Short,        // a read delivers half the bytes asked for
  Halfway,      // a write writes half its bytes, then reports failure
  Grown,        // a reservation grows the file, then reports failure (a disk that filled up)
};

struct Fault {
  Kind kind;
  Mode mode;
  const char* name;
};

const Fault FAULTS[] = {
    {OPEN_READ_WRITE, Mode::Fail, "read-write open"},
    {OPEN_READ_WRITE, Mode::AndReadOnly, "read-write and read-only open"},
    {SIZE, Mode::Fail, "size"},
    {READ, Mode::Fail, "read"},
    {READ, Mode::Short, "short read"},
    {SEEK, Mode::Fail, "seek"},
    {RESERVE, Mode::Fail, "reservation"},
    {RESERVE, Mode::Grown, "reservation failing after growing"},
    {WRITE, Mode::Fail, "write failing at once"},
    {WRITE, Mode::Halfway, "write failing halfway"},
    {SET_END, Mode::Fail, "set end"},
};

// One pass's counters, the call to fail (the `number`-th of its kind; 0: none) and what became
// of it.
struct Plan {
  int calls[KINDS] = {};
  Fault fault{};
  int number = 0;
  bool failReadOnlyOpen = false;
  bool met = false;
  bool wholeWrite = false;  // some write reached the file whole
};
Plan plan;

const platform::FileCalls& real() {
  return platform::defaultFileCalls();
}

// Counts a call and tells whether it is the one to fail.
bool chosen(Kind kind) {
  if (++plan.calls[kind] != plan.number || plan.fault.kind != kind) return false;
  plan.met = true;
  return true;
}

constexpr platform::FileCalls COUNTING = {
    .openReadWrite =
        [](const char* path, platform::FileHandle* file) {
          if (chosen(OPEN_READ_WRITE)) {
            plan.failReadOnlyOpen = plan.fault.mode == Mode::AndReadOnly;
            return false;
          }
          return real().openReadWrite(path, file);
        },
    .openReadOnly =
        [](const char* path, platform::FileHandle* file) {
          ++plan.calls[OPEN_READ_ONLY];
          if (plan.failReadOnlyOpen) {
            plan.failReadOnlyOpen = false;
            return false;
          }
          return real().openReadOnly(path, file);
        },
    .size = [](platform::FileHandle file,
               std::int64_t* size) { return !chosen(SIZE) && real().size(file, size); },
    .read =
        [](platform::FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* got) {
          if (chosen(READ)) {
            if (plan.fault.mode == Mode::Fail) {
              *got = 0;
              return false;
            }
            return real().read(file, buffer, count / 2, got);
          }
          return real().read(file, buffer, count, got);
        },
    .seek = [](platform::FileHandle file,
               std::int64_t offset) { return !chosen(SEEK) && real().seek(file, offset); },
    .reserve =
        [](platform::FileHandle file, std::int64_t length) {
          if (!chosen(RESERVE)) return real().reserve(file, length);
          if (plan.fault.mode == Mode::Grown) real().reserve(file, length);
          return false;
        },
    .write =
        [](platform::FileHandle file, const void* buffer, std::uint32_t count,
           std::uint32_t* written) {
          if (chosen(WRITE)) {
            *written = 0;
            if (plan.fault.mode == Mode::Halfway) real().write(file, buffer, count / 2, written);
            return false;
          }
          const bool whole = real().write(file, buffer, count, written) && *written == count;
          plan.wholeWrite = plan.wholeWrite || whole;
          return whole;
        },
    .setEnd = [](platform::FileHandle file) { return !chosen(SET_END) && real().setEnd(file); },
    .close = [](platform::FileHandle file) { real().close(file); },
};

// A whole write-back of `text` over a file of `oldLength` bytes that could not be cut after it.
bool isPaddedWriteBack(const std::string& actual, const std::string& text, std::size_t oldLength) {
  return actual.size() == std::max(text.size(), oldLength) &&
         actual.compare(0, text.size(), text) == 0 &&
         actual.find_first_not_of(' ', text.size()) == std::string::npos;
}

TEST_P(PassFaultTest, EveryFileCallOfAPassCanFail) {
  plan = Plan{};
  const Outcome counted = run([] { platform::fileCalls() = COUNTING; });
  ASSERT_EQ(visible(counted.file), visible(clean.file));
  const Plan cleanPass = plan;
  ASSERT_EQ(cleanPass.calls[OPEN_READ_WRITE], 2) << "a pass opens the file to load and to save";
  const std::string& old = GetParam().bytes;
  int swept = 0;
  for (const Fault& fault : FAULTS) {
    for (int number = 1; number <= cleanPass.calls[fault.kind]; ++number) {
      SCOPED_TRACE(std::string(fault.name) + " number " + std::to_string(number));
      plan = Plan{};
      plan.fault = fault;
      plan.number = number;
      const Outcome after = run([] { platform::fileCalls() = COUNTING; });
      ASSERT_TRUE(plan.met);
      ++swept;
      if (fault.mode == Mode::Halfway) {
        // The old length is put back, but what was written over the old bytes stays.
        EXPECT_GE(after.file.size(), old.size()) << "a broken write must not shorten the file";
        keeper::runPass();
        continue;
      }
      EXPECT_TRUE(after.file == old || after.file == clean.file ||
                  (plan.wholeWrite && isPaddedWriteBack(after.file, clean.file, old.size())))
          << "neither the old bytes nor the clean write-back:\n"
          << visible(after.file);
      expectNothingLostAndMended(after);
    }
  }
  std::printf("%s: %d file call failure points swept\n", GetParam().name, swept);
}

}  // namespace
