// The cost of one keeper pass (load, apply, save) on a preference file of 3 to 100,000 users in
// the form the program writes, against the floor of a process that only makes a pass's file
// calls: open, read, close; open, read, write, cut, close. Steady passes are the program as it
// runs; parsing passes have steady passes switched off, so that every pass parses the file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/alloc_meter.h"
#include "keeper/keeper.h"
#include "keeper/keeper_testing.h"
#include "platform/platform.h"
#include "support/fake_system.h"

namespace {

using testing_support::fakeSystem;

// `users` groups with names of a few shapes, each unique even ignoring case.
std::string normalFile(std::int64_t users) {
  static const char* const shapes[] = {"%s.smith%u", "%s%u", "%s_%u_x", "%s-%u.admin"};
  static const char* const firsts[] = {"alice", "Bob", "carol", "DAVID", "emma", "jo"};
  std::string bytes;
  char name[64];
  for (std::int64_t i = 0; i < users; ++i) {
    std::snprintf(name, sizeof name, shapes[i % 4], firsts[i % 6],
                  static_cast<unsigned>(i * 7919 % 1000003));
    bytes.append("[").append(name).append("]\r\nRes_X = ");
    bytes.append(std::to_string(800 + i % 1200)).append("\r\nRes_Y = ");
    bytes.append(std::to_string(600 + i % 900)).append("\r\n");
  }
  return bytes;
}

// A fresh folder holding Data/Pref.txt of state.range(0) users, made the current folder, with a
// keeper table loaded from it by two passes (the second finds nothing to change). The current user
// is one of the file's, at the size stored for it, so that passes switch nothing and leave the file
// as it was.
class PassFixture : public benchmark::Fixture {
 public:
  void SetUp(benchmark::State& state) override {
    char pattern[] = "/tmp/reskeeper-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return state.SkipWithError("no temporary folder");
    folder_ = pattern;
    std::filesystem::create_directory(folder_ / "Data");
    std::filesystem::current_path(folder_);
    bytes_ = normalFile(state.range(0));
    std::ofstream(keeper::PREFERENCE_FILE, std::ios::binary) << bytes_;
    keeper::clearUserTable();
    keeper::useSteadyPasses(/*enabled=*/true);
    fakeSystem().userName = "alice.smith0";
    fakeSystem().width = 800;
    fakeSystem().height = 600;
    keeper::runPass();
    keeper::runPass();
  }

  void TearDown(benchmark::State& state) override {
    std::ifstream in(keeper::PREFERENCE_FILE, std::ios::binary);
    const std::string after{std::istreambuf_iterator<char>(in), {}};
    if (after != bytes_) state.SkipWithError("a pass changed the file");
    if (!fakeSystem().switches.empty()) state.SkipWithError("a pass switched the display");
    keeper::clearUserTable();
    keeper::useSteadyPasses(/*enabled=*/true);
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(folder_, ignored);
  }

 protected:
  // The peak bytes a pass holds above what the process held before it.
  static double passPeak() {
    alloc_meter::open();
    keeper::runPass();
    return static_cast<double>(alloc_meter::close().peak);
  }

  void setCounters(benchmark::State& state, double peak) const {
    state.counters["file_B"] = static_cast<double>(bytes_.size());
    state.counters["peak_B"] = peak;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes_.size()));
  }

  std::filesystem::path folder_;
  std::string bytes_;
};

BENCHMARK_DEFINE_F(PassFixture, Steady)(benchmark::State& state) {
  const double peak = passPeak();
  for (auto _ : state) keeper::runPass();
  setCounters(state, peak);
}

BENCHMARK_DEFINE_F(PassFixture, Parsing)(benchmark::State& state) {
  keeper::useSteadyPasses(/*enabled=*/false);
  const double peak = passPeak();
  for (auto _ : state) keeper::runPass();
  setCounters(state, peak);
}

// A pass's file calls and nothing else, through the program's own file layer.
BENCHMARK_DEFINE_F(PassFixture, FileCallsFloor)(benchmark::State& state) {
  const platform::FileCalls& io = platform::fileCalls();
  std::vector<char> buffer(bytes_.size());
  const auto length = static_cast<std::uint32_t>(bytes_.size());
  const auto openAndRead = [&](platform::FileHandle* file) {
    std::int64_t size = 0;
    std::uint32_t got = 0;
    return io.openReadWrite(keeper::PREFERENCE_FILE, file) && io.size(*file, &size) &&
           io.read(*file, buffer.data(), length, &got) && got == length;
  };
  for (auto _ : state) {
    platform::FileHandle file;
    std::uint32_t written = 0;
    if (!openAndRead(&file)) return state.SkipWithError("cannot read the file");
    io.close(file);
    if (!openAndRead(&file) || !io.seek(file, 0) ||
        !io.write(file, buffer.data(), length, &written) || !io.seek(file, length) ||
        !io.setEnd(file)) {
      return state.SkipWithError("cannot write the file");
    }
    io.close(file);
  }
  setCounters(state, 0);
}

constexpr std::int64_t USERS[] = {3, 1000, 10000, 100000};

void usersArgs(benchmark::internal::Benchmark* bench) {
  for (const std::int64_t users : USERS) bench->Arg(users);
  bench->ArgName("users")->Unit(benchmark::kMicrosecond);
}

BENCHMARK_REGISTER_F(PassFixture, FileCallsFloor)->Apply(usersArgs);
BENCHMARK_REGISTER_F(PassFixture, Steady)->Apply(usersArgs);
BENCHMARK_REGISTER_F(PassFixture, Parsing)->Apply(usersArgs);

}  // namespace

BENCHMARK_MAIN();
