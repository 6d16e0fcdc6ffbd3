// The cost of one keeper pass (load, apply, save) on preference files of 10 to 100,000 users,
// against the floor of reading the file with one read and writing it back with one write, and
// the peak memory of one pass. The same pass also runs with the store's group index and the
// table's index switched off, so that the plain walks can be compared with the indexes.
//
// Every pass runs on a fresh temporary folder holding Data/Pref.txt in the form the program
// writes, so that each pass writes back the very bytes it read and the next pass sees the same
// file. Before anything is timed, the indexed and walking passes are checked to leave the same
// bytes, and every pass is checked to leave the file as it was.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "bench/alloc_meter.h"
#include "keeper/keeper.h"
#include "platform/platform.h"
#include "prefs/prefs.h"
#include "support/fake_system.h"

namespace {

using testing_support::fakeSystem;

constexpr std::uint32_t SIZES[] = {10, 1000, 10000, 100000};
// Walking sizes: 30,000 as well, to tell how the walk grows without waiting on 100,000 long.
constexpr std::uint32_t WALK_SIZES[] = {10, 1000, 10000, 30000, 100000};
// Above this size a walking pass takes seconds to minutes: it runs a fixed number of times.
constexpr std::uint32_t LONG_WALK = 30000;
constexpr std::uint32_t CHECK_SIZE = 10000;
// Sizes at which the steps of an indexed pass are also timed apart.
constexpr std::uint32_t STAGE_SIZES[] = {10000, 100000};

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "\n*** reskeeper_bench: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

// ---- Users and files -----------------------------------------------------------------------

struct User {
  std::string name;
  std::int32_t width;
  std::int32_t height;
};

constexpr const char* FIRST[] = {
    "alice",    "bob",     "carol",  "david",  "emma",      "frank",  "grace",     "henry",
    "isabel",   "jack",    "karen",  "liam",   "maria",     "noah",   "olivia",    "peter",
    "quinn",    "rachel",  "samuel", "tina",   "ursula",    "victor", "wendy",     "xavier",
    "yasmin",   "zoe",     "ahmed",  "bianca", "chen",      "dmitri", "elif",      "fatima",
    "giovanni", "hiroshi", "ingrid", "jose",   "katarzyna", "lars",   "mohammed",  "nadia",
    "oskar",    "priya",   "raj",    "sofia",  "thomas",    "umar",   "valentina", "wei",
    "yusuf",    "zeynep",  "al",     "bo",     "ed",        "jo"};
constexpr const char* LAST[] = {
    "smith",     "johnson",   "garcia",     "mueller",    "rossi",        "kowalski", "nguyen",
    "tanaka",    "oconnor",   "fernandez",  "petrov",     "andersson",    "dubois",   "silva",
    "kim",       "patel",     "novak",      "haddad",     "jensen",       "moreau",   "schmidt",
    "lopez",     "okafor",    "yilmaz",     "ivanova",    "costa",        "nielsen",  "wojcik",
    "hernandez", "bergstrom", "vanderberg", "mcallister", "papadopoulos", "abdullah", "lindqvist",
    "romano",    "sato",      "walker",     "young",      "zhang",        "li",       "ng"};
constexpr std::int32_t MODES[][2] = {{1280, 1024}, {1920, 1080}, {1366, 768}, {1440, 900},
                                     {1600, 900},  {2560, 1440}, {1024, 768}, {1680, 1050},
                                     {3840, 2160}, {1920, 1200}, {800, 600}};

std::string folded(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string capitalised(std::string word) {
  if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 32);
  return word;
}

// `count` users with names of the shapes sites give their accounts, 2 to about 30 characters
// long, each different from the others even ignoring case (names equal but for case would
// share one group and the file would change at every pass).
std::vector<User> makeUsers(std::uint32_t count) {
  std::vector<User> users;
  users.reserve(count);
  std::unordered_set<std::string> taken;
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state](std::uint32_t bound) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>((state >> 33) % bound);
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string first = FIRST[next(std::size(FIRST))];
    const std::string last = LAST[next(std::size(LAST))];
    std::string name;
    switch (next(8)) {
      case 0:
        name = first + "." + last;
        break;
      case 1:
        name = first.substr(0, 1) + last;
        break;
      case 2:
        name = capitalised(first) + "." + capitalised(last);
        break;
      case 3:
        name = first + std::to_string(next(9000) + 10);
        break;
      case 4:
        name = first + "_" + last + "_" + static_cast<char>('a' + next(26));
        break;
      case 5:
        name = folded(last) + first.substr(0, 1);
        for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        break;
      case 6:
        name = first + "." + FIRST[next(std::size(FIRST))] + "." + last + "-" +
               LAST[next(std::size(LAST))];
        break;
      default:
        name = first.substr(0, 3) + std::to_string(next(100));
        break;
    }
    const std::string base = name;
    for (std::uint32_t n = 2; !taken.insert(folded(name)).second; ++n) {
      name = base + std::to_string(n);
    }
    const auto* mode = MODES[next(std::size(MODES))];
    users.push_back(User{name, mode[0], mode[1]});
  }
  return users;
}

void appendGroup(std::string& out, const User& user) {
  out += '[';
  out += user.name;
  out += "]\r\nRes_X = ";
  out += std::to_string(user.width);
  out += "\r\nRes_Y = ";
  out += std::to_string(user.height);
  out += "\r\n";
}

// The file as the program writes it.
std::string normalFile(const std::vector<User>& users) {
  std::string out;
  for (const User& user : users) appendGroup(out, user);
  return out;
}

// A file a person or an older program may have left: comments, lone LFs, blank lines, keys in
// other cases and without blanks, missing and empty values, extra keys, and later groups whose
// names repeat earlier ones exactly or but for case, where only the first header of a name may
// take the writes. Passes over it must leave the same bytes whether they walk or look up.
std::string untidyFile(const std::vector<User>& users) {
  std::string out = "; shared profiles\r\nVersion = 3\r\n\r\n";
  std::vector<std::string> repeats;
  for (std::size_t i = 0; i < users.size(); ++i) {
    const User& user = users[i];
    const std::string end = i % 7 == 3 ? "\n" : "\r\n";
    const std::string width = std::to_string(user.width);
    out += "[" + user.name + "]" + end;
    if (i % 17 == 5) out += "; desk " + std::to_string(i) + end;
    if (i % 11 == 2) {
      out += "Res_X=" + width + end;
    } else if (i % 11 == 6) {
      out += "  res_x   =   " + width + "  " + end;
    } else if (i % 29 == 8) {
      out += "Res_X =" + end;
    } else {
      out += "Res_X = " + width + end;
    }
    if (i % 13 != 4) out += "Res_Y = " + std::to_string(user.height) + end;
    if (i % 17 == 5) out += "Depth = 32" + end;
    if (i % 23 == 9) out += end + end;
    if (i % 19 == 7) {
      const std::string lower = folded(user.name);
      if (i % 2 == 0) {
        repeats.push_back(user.name);
      } else {
        repeats.push_back(lower == user.name ? capitalised(lower) : lower);
      }
    }
  }
  for (std::size_t i = 0; i < repeats.size(); ++i) {
    out += "[" + repeats[i] + "]\r\nRes_X = 800\r\n";
    if (i % 3 != 0) out += "Res_Y = 600\r\n";
  }
  return out;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) fail("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// ---- The work folder and the loaded state ------------------------------------------------

std::filesystem::path workFolder;

void enterWorkFolder() {
  char pattern[] = "/tmp/reskeeper-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) fail("cannot make a temporary folder");
  workFolder = pattern;
  std::filesystem::create_directory(workFolder / "Data");
  std::filesystem::current_path(workFolder);
}

void leaveWorkFolder() {
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  std::filesystem::remove_all(workFolder, ignored);
}

struct Files {
  std::vector<User> users;
  std::string bytes;
};

const Files& filesFor(std::uint32_t count) {
  static std::map<std::uint32_t, Files> made;
  auto found = made.find(count);
  if (found == made.end()) {
    Files files{makeUsers(count), {}};
    files.bytes = normalFile(files.users);
    found = made.emplace(count, std::move(files)).first;
  }
  return found->second;
}

struct Measured {
  std::int64_t fileBytes = 0;
  std::int64_t tableBytes = 0;      // live bytes the table holds after the first pass
  std::int64_t tableRequested = 0;  // the same, as the table's own sizes ask for them
  std::int64_t passPeak = -1;       // peak bytes above the table during one pass; -1: not measured
  std::uint64_t passAllocations = 0;
};
std::map<std::pair<std::uint32_t, bool>, Measured> measured;

// The table's records, names and index, as sized by the table itself.
std::int64_t tableRequestedBytes() {
  const keeper::UserResolutionTable& table = keeper::userTable();
  std::int64_t bytes = std::int64_t{table.capacity} * sizeof(keeper::UserResolution) +
                       std::int64_t{table.indexCapacity} * sizeof(std::uint32_t);
  for (std::uint32_t i = 0; i < table.count; ++i) {
    bytes +=
        static_cast<std::int64_t>(std::char_traits<char>::length(table.records[i].userName) + 1);
  }
  return bytes;
}

// Indexed: the program as it runs, with its indexes and its steady passes. Walking: the plain
// walks, parsing the file at every pass.
void setIndexes(bool indexed) {
  prefs::useGroupIndex(indexed);
  keeper::useUserIndex(indexed);
  keeper::useSteadyPasses(indexed);
}

// Puts the display and USERNAME on one of the users, so that the apply step finds its record
// and switches nothing.
void becomeUser(const User& user) {
  fakeSystem().userName = user.name;
  fakeSystem().width = user.width;
  fakeSystem().height = user.height;
  fakeSystem().switches.clear();
}

void checkUnchanged(const Files& files, const char* when) {
  if (readFile(keeper::PREFERENCE_FILE) != files.bytes) {
    fail(std::string("the pass changed the file ") + when + " (" +
         std::to_string(files.users.size()) + " users)");
  }
  if (!fakeSystem().switches.empty()) fail(std::string("the pass switched the display ") + when);
}

// The file in the work folder and the table loaded from it: none when loadedCount is 0.
std::uint32_t loadedCount = 0;
bool loadedIndexed = false;

// Leaves the file of `count` users in the work folder and the table loaded from it by a first
// pass, with the indexes on or off; measures the table and one pass's memory the first time.
void prepare(std::uint32_t count, bool indexed) {
  if (loadedCount == count && loadedIndexed == indexed) return;
  const Files& files = filesFor(count);
  keeper::clearUserTable();
  setIndexes(indexed);
  writeFile(keeper::PREFERENCE_FILE, files.bytes);
  becomeUser(files.users[count / 2]);
  Measured& m = measured[{count, indexed}];
  m.fileBytes = static_cast<std::int64_t>(files.bytes.size());

  alloc_meter::open();
  keeper::runPass();
  const alloc_meter::Window first = alloc_meter::close();
  m.tableBytes = first.net;
  m.tableRequested = tableRequestedBytes();
  checkUnchanged(files, "on its first run");
  if (keeper::userTable().count != count) fail("the table did not take every user");

  if (m.passPeak < 0 && (indexed || count <= LONG_WALK)) {
    alloc_meter::open();
    keeper::runPass();
    const alloc_meter::Window pass = alloc_meter::close();
    if (pass.net != 0) fail("a steady pass kept " + std::to_string(pass.net) + " bytes");
    m.passPeak = pass.peak;
    m.passAllocations = pass.allocations;
    checkUnchanged(files, "on its second run");
  }
  loadedCount = count;
  loadedIndexed = indexed;
}

// ---- The check that walking and indexes agree ---------------------------------------------

struct Outcome {
  std::string afterFirst;
  std::string afterSecond;
  std::vector<User> table;
  std::vector<testing_support::DisplaySwitch> switches;
};

Outcome runUntidy(const std::vector<User>& users, const std::string& file, bool indexed) {
  keeper::clearUserTable();
  setIndexes(indexed);
  writeFile(keeper::PREFERENCE_FILE, file);
  // A user the file does not know yet: recorded and written as a new group at the end.
  fakeSystem().userName = "Newcomer.Zed";
  fakeSystem().width = 1600;
  fakeSystem().height = 1200;
  fakeSystem().switches.clear();
  Outcome outcome;
  keeper::runPass();
  outcome.afterFirst = readFile(keeper::PREFERENCE_FILE);
  // A user whose stored size differs from the screen: switched on the next pass.
  becomeUser(users[users.size() / 3]);
  fakeSystem().width = 640;
  fakeSystem().height = 480;
  keeper::runPass();
  outcome.afterSecond = readFile(keeper::PREFERENCE_FILE);
  const keeper::UserResolutionTable& table = keeper::userTable();
  for (std::uint32_t i = 0; i < table.count; ++i) {
    const keeper::UserResolution& record = table.records[i];
    outcome.table.push_back(User{record.userName, record.width, record.height});
  }
  outcome.switches = fakeSystem().switches;
  return outcome;
}

bool sameTable(const std::vector<User>& a, const std::vector<User>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const User& x, const User& y) {
    return x.name == y.name && x.width == y.width && x.height == y.height;
  });
}

void checkWalkAndIndexAgree() {
  const std::vector<User>& users = filesFor(CHECK_SIZE).users;
  const std::string file = untidyFile(users);
  const Outcome walked = runUntidy(users, file, false);
  const Outcome indexed = runUntidy(users, file, true);
  if (walked.afterFirst != indexed.afterFirst) fail("walk and index differ after one pass");
  if (walked.afterSecond != indexed.afterSecond) fail("walk and index differ after two passes");
  if (!sameTable(walked.table, indexed.table)) fail("walk and index built different tables");
  if (walked.switches != indexed.switches || walked.switches.size() != 1) {
    fail("walk and index switched the display differently");
  }
  if (walked.afterFirst == file)
    fail("the untidy file came back unchanged: the check tests nothing");

  const Files& files = filesFor(CHECK_SIZE);
  for (const bool index : {false, true}) {
    keeper::clearUserTable();
    setIndexes(index);
    writeFile(keeper::PREFERENCE_FILE, files.bytes);
    becomeUser(files.users[CHECK_SIZE / 2]);
    keeper::runPass();
    keeper::runPass();
    checkUnchanged(files, index ? "with indexes" : "walking");
  }
  keeper::clearUserTable();
  std::printf(
      "check: %u users, untidy file (%zu bytes): walking and indexed passes leave the "
      "same %zu bytes and tables; the normal file (%zu bytes) stays byte for byte\n\n",
      CHECK_SIZE, file.size(), indexed.afterSecond.size(), files.bytes.size());
}

// ---- Benchmarks ----------------------------------------------------------------------------

void setCounters(benchmark::State& state, std::uint32_t count, bool indexed) {
  const Measured& m = measured[{count, indexed}];
  state.counters["file_B"] = static_cast<double>(m.fileBytes);
  if (m.passPeak >= 0) {
    state.counters["peak_B"] = static_cast<double>(m.passPeak);
    state.counters["peak/file"] =
        static_cast<double>(m.passPeak) / static_cast<double>(m.fileBytes);
  }
  state.counters["table_B"] = static_cast<double>(m.tableBytes);
  if (m.passPeak >= 0) state.counters["allocs"] = static_cast<double>(m.passAllocations);
}

void benchPass(benchmark::State& state, std::uint32_t count, bool indexed) {
  prepare(count, indexed);
  for (auto _ : state) keeper::runPass();
  checkUnchanged(filesFor(count), "while timed");
  setCounters(state, count, indexed);
}

// The steps of a pass, apart: opening the file (read, parse, index) and closing it unwritten,
// the load step, and the save step.
void benchOpen(benchmark::State& state, std::uint32_t count) {
  prepare(count, true);
  for (auto _ : state) {
    if (!prefs::openPreferences(keeper::PREFERENCE_FILE)) fail("cannot open the file");
    prefs::closePreferences();
  }
}

void benchLoad(benchmark::State& state, std::uint32_t count) {
  prepare(count, true);
  for (auto _ : state) keeper::loadProfiles();
}

void benchSave(benchmark::State& state, std::uint32_t count) {
  prepare(count, true);
  for (auto _ : state) keeper::saveProfiles();
  checkUnchanged(filesFor(count), "by the save step");
}

// One read of the whole file and one write of as many bytes in place, through the program's
// own file calls (which lock the file as the program's opens do).
void benchFloor(benchmark::State& state, std::uint32_t count) {
  const Files& files = filesFor(count);
  writeFile(keeper::PREFERENCE_FILE, files.bytes);
  loadedCount = 0;  // the next pass benchmark starts again from its own first pass
  const platform::FileCalls& io = platform::fileCalls();
  const auto length = static_cast<std::uint32_t>(files.bytes.size());
  std::vector<char> buffer(length);
  for (auto _ : state) {
    platform::FileHandle file;
    std::int64_t size = 0;
    std::uint32_t got = 0;
    if (!io.openReadWrite(keeper::PREFERENCE_FILE, &file) || !io.size(file, &size) ||
        !io.read(file, buffer.data(), static_cast<std::uint32_t>(size), &got) || got != length) {
      fail("floor: cannot read the file");
    }
    io.close(file);
    std::uint32_t written = 0;
    if (!io.openReadWrite(keeper::PREFERENCE_FILE, &file) ||
        !io.write(file, buffer.data(), got, &written) || written != length) {
      fail("floor: cannot write the file");
    }
    io.close(file);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.counters["file_B"] = static_cast<double>(length);
  if (readFile(keeper::PREFERENCE_FILE) != files.bytes) fail("floor: the file changed");
}

// The file calls of a steady pass with no parsing at all: each step opens the file, reads the
// byte-order mark's three bytes, goes back and reads it whole, and compares what it read with
// the bytes last written; the save step then writes them back in place, moves to the end and
// sets it. What a pass that finds the file as it left it could cost at best.
void benchPassCalls(benchmark::State& state, std::uint32_t count) {
  const Files& files = filesFor(count);
  writeFile(keeper::PREFERENCE_FILE, files.bytes);
  loadedCount = 0;
  const platform::FileCalls& io = platform::fileCalls();
  const auto length = static_cast<std::uint32_t>(files.bytes.size());
  std::vector<char> buffer(length);
  const auto readWhole = [&](platform::FileHandle* file) {
    std::int64_t size = 0;
    std::uint32_t got = 0;
    std::uint32_t rest = 0;
    if (!io.openReadWrite(keeper::PREFERENCE_FILE, file) || !io.size(*file, &size) ||
        !io.read(*file, buffer.data(), 3, &got) || !io.seek(*file, 0) ||
        !io.read(*file, buffer.data(), static_cast<std::uint32_t>(size), &rest) || rest != length) {
      fail("pass calls: cannot read the file");
    }
    if (std::memcmp(buffer.data(), files.bytes.data(), length) != 0) fail("pass calls: changed");
  };
  for (auto _ : state) {
    platform::FileHandle file;
    readWhole(&file);
    io.close(file);
    readWhole(&file);
    std::uint32_t written = 0;
    if (!io.seek(file, 0) || !io.write(file, buffer.data(), length, &written) ||
        written != length || !io.seek(file, length) || !io.setEnd(file)) {
      fail("pass calls: cannot write the file");
    }
    io.close(file);
  }
}

std::string callsName(std::uint32_t count) {
  return "floor/pass-calls/users:" + std::to_string(count);
}
std::string floorName(std::uint32_t count) {
  return "floor/users:" + std::to_string(count);
}
std::string passName(std::uint32_t count, bool indexed) {
  return std::string("pass/") + (indexed ? "indexed" : "walk") + "/users:" + std::to_string(count);
}

void registerAll() {
  for (const std::uint32_t count : SIZES) {
    benchmark::RegisterBenchmark(floorName(count).c_str(), benchFloor, count)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(callsName(count).c_str(), benchPassCalls, count)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(passName(count, true).c_str(), benchPass, count, true)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
  }
  for (const std::uint32_t count : STAGE_SIZES) {
    const std::string users = "/users:" + std::to_string(count);
    benchmark::RegisterBenchmark(("step/open+close" + users).c_str(), benchOpen, count)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("step/load" + users).c_str(), benchLoad, count)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("step/save" + users).c_str(), benchSave, count)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
  }
  for (const std::uint32_t count : WALK_SIZES) {
    auto* bench =
        benchmark::RegisterBenchmark(passName(count, false).c_str(), benchPass, count, false);
    bench->Unit(benchmark::kMillisecond)->UseRealTime();
    if (count > LONG_WALK) {
      bench->Iterations(1)->Repetitions(1);  // one quadratic pass takes minutes
    } else if (count == LONG_WALK) {
      bench->Iterations(1)->Repetitions(3);
    }
  }
}

// ---- The summary after the run -------------------------------------------------------------

// Keeps every repetition's real and CPU time per iteration, and the medians the library
// computes.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double scale = benchmark::GetTimeUnitMultiplier(run.time_unit);
      const Times times{run.GetAdjustedRealTime() / scale, run.GetAdjustedCPUTime() / scale};
      const std::string& name = run.run_name.function_name;
      repetitions_[name] = static_cast<std::size_t>(run.repetitions);
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medians_[name] = times;
      } else {
        samples_[name].push_back(times);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The median real time per iteration in seconds, or a negative number when it did not run.
  double median(const std::string& name) const { return medianOf(name).real; }
  double medianCpu(const std::string& name) const { return medianOf(name).cpu; }

  std::size_t repetitions(const std::string& name) const {
    auto found = repetitions_.find(name);
    return found == repetitions_.end() ? 0 : found->second;
  }

 private:
  struct Times {
    double real;
    double cpu;
  };

  Times medianOf(const std::string& name) const {
    if (auto found = medians_.find(name); found != medians_.end()) return found->second;
    auto found = samples_.find(name);
    if (found == samples_.end() || found->second.empty()) return Times{-1, -1};
    std::vector<double> real;
    std::vector<double> cpu;
    for (const Times& times : found->second) {
      real.push_back(times.real);
      cpu.push_back(times.cpu);
    }
    return Times{middle(real), middle(cpu)};
  }

  static double middle(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  }

  std::map<std::string, Times> medians_;
  std::map<std::string, std::vector<Times>> samples_;
  std::map<std::string, std::size_t> repetitions_;
};

std::string duration(double seconds) {
  char text[32];
  if (seconds < 0) return "-";
  if (seconds < 1e-3) {
    std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
  } else if (seconds < 1) {
    std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  }
  return text;
}

std::string ratio(double a, double b) {
  if (a < 0 || b <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1fx", a / b);
  return text;
}

std::string megabytes(std::int64_t bytes) {
  if (bytes < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

const Measured* measurement(std::uint32_t count, bool indexed) {
  const auto found = measured.find({count, indexed});
  return found != measured.end() ? &found->second : nullptr;
}

void printTimes(const SummaryReporter& results) {
  std::printf("\nTime per pass: medians of the repetitions, wall time (CPU time in brackets).\n");
  std::printf("%7s %9s %9s %18s %23s %7s %18s %9s %5s\n", "users", "file", "floor",
              "pass calls /floor", "indexed", "/floor", "walk", "/floor", "reps");
  for (const std::uint32_t count : WALK_SIZES) {
    const double floor = results.median(floorName(count));
    const double calls = results.median(callsName(count));
    const double indexed = results.median(passName(count, true));
    const double indexedCpu = results.medianCpu(passName(count, true));
    const double walk = results.median(passName(count, false));
    const double walkCpu = results.medianCpu(passName(count, false));
    if (floor < 0 && indexed < 0 && walk < 0) continue;
    const Measured* m = measurement(count, true);
    if (m == nullptr) m = measurement(count, false);
    const std::string callsText = duration(calls) + " " + ratio(calls, floor);
    const std::string indexedText = duration(indexed) + " (" + duration(indexedCpu) + ")";
    const std::string walkText = duration(walk) + " (" + duration(walkCpu) + ")";
    const std::string reps = std::to_string(results.repetitions(passName(count, true))) + "/" +
                             std::to_string(results.repetitions(passName(count, false)));
    std::printf("%7u %9s %9s %18s %23s %7s %18s %9s %5s\n", count,
                m != nullptr ? megabytes(m->fileBytes).c_str() : "-", duration(floor).c_str(),
                callsText.c_str(), indexedText.c_str(), ratio(indexed, floor).c_str(),
                walkText.c_str(), ratio(walk, floor).c_str(), reps.c_str());
  }
  std::printf(
      "floor: one read of the file and one write of as many bytes, each with its own open "
      "and close;\npass calls: the file calls of a pass with no parsing, plus comparing "
      "the bytes read with the\nbytes last written; reps: indexed/walk repetitions.\n");

  for (const std::uint32_t count : STAGE_SIZES) {
    const std::string users = "/users:" + std::to_string(count);
    const double open = results.median("step/open+close" + users);
    const double load = results.median("step/load" + users);
    const double save = results.median("step/save" + users);
    if (open < 0 && load < 0 && save < 0) continue;
    std::printf("steps at %u users: open+close (read, parse, index) %s, load %s, save %s\n", count,
                duration(open).c_str(), duration(load).c_str(), duration(save).c_str());
  }
}

void printMemory() {
  std::printf(
      "\nPeak memory of one pass: the highest live malloc bytes above what the process "
      "held when the\npass began (the table), block rounding included; table: live bytes "
      "of the user table after\nthe first pass, and what its records, names and index "
      "ask for.\n");
  std::printf("%7s %9s %12s %9s %12s %9s %11s %11s\n", "users", "file", "indexed peak", "/file",
              "walk peak", "/file", "table", "table asks");
  for (const std::uint32_t count : WALK_SIZES) {
    const Measured* indexed = measurement(count, true);
    const Measured* walk = measurement(count, false);
    const Measured* any = indexed != nullptr ? indexed : walk;
    if (any == nullptr) continue;
    const auto perFile = [](const Measured* m) {
      return m != nullptr && m->passPeak >= 0
                 ? ratio(static_cast<double>(m->passPeak), static_cast<double>(m->fileBytes))
                 : std::string("-");
    };
    std::printf("%7u %9s %12s %9s %12s %9s %11s %11s\n", count, megabytes(any->fileBytes).c_str(),
                megabytes(indexed != nullptr ? indexed->passPeak : -1).c_str(),
                perFile(indexed).c_str(), megabytes(walk != nullptr ? walk->passPeak : -1).c_str(),
                perFile(walk).c_str(), megabytes(any->tableBytes).c_str(),
                megabytes(any->tableRequested).c_str());
  }
}

const char* verdict(bool met) {
  return met ? "met" : "MISSED";
}

void printGoals(const SummaryReporter& results) {
  const std::string small = passName(10000, true);
  const std::string large = passName(100000, true);
  const double floor10k = results.median(floorName(10000));
  const double pass10k = results.median(small);
  const double pass100k = results.median(large);
  const double walk10k = results.median(passName(10000, false));
  const double walk30k = results.median(passName(30000, false));
  const double walk100k = results.median(passName(100000, false));
  std::printf("\nGrowth from 10,000 to 100,000 users: indexed %s (CPU %s), walking %s",
              ratio(pass100k, pass10k).c_str(),
              ratio(results.medianCpu(large), results.medianCpu(small)).c_str(),
              ratio(walk100k, walk10k).c_str());
  if (walk10k > 0 && walk30k > 0) {
    // A power law through 10,000 and 30,000 users, carried on to 100,000.
    const double exponent = std::log(walk30k / walk10k) / std::log(3.0);
    const double projected = walk30k * std::pow(100.0 / 30.0, exponent);
    std::printf("\n  walking from 10k and 30k: time ~ users^%.2f, 100k projected %s (%s)", exponent,
                duration(projected).c_str(), ratio(projected, walk10k).c_str());
  }
  std::printf("\n\nGoals, indexed:\n");
  if (pass10k > 0 && floor10k > 0) {
    std::printf("  10,000 users: pass <= 10x floor                 %s (%s)\n",
                verdict(pass10k <= 10 * floor10k), ratio(pass10k, floor10k).c_str());
  }
  if (pass10k > 0 && pass100k > 0) {
    std::printf("  10,000 -> 100,000 users: growth <= 12x          %s (%s)\n",
                verdict(pass100k <= 12 * pass10k), ratio(pass100k, pass10k).c_str());
  }
  if (const Measured* m = measurement(100000, true); m != nullptr && m->passPeak >= 0) {
    std::printf(
        "  100,000 users: pass peak <= 4x file, + table    %s (%s + table %s; "
        "4x file = %s)\n",
        verdict(m->passPeak <= 4 * m->fileBytes), megabytes(m->passPeak).c_str(),
        megabytes(m->tableBytes).c_str(), megabytes(4 * m->fileBytes).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  enterWorkFolder();
  std::printf("work folder: %s\n", workFolder.c_str());
  checkWalkAndIndexAgree();
  registerAll();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printTimes(reporter);
  printMemory();
  printGoals(reporter);
  benchmark::Shutdown();
  keeper::clearUserTable();
  leaveWorkFolder();
  return 0;
}
