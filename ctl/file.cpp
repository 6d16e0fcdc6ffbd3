// The preference file read as the keeper reads it, and probed for this user's rights, with a
// bounded wait while another program holds it.
#include "ctl/internal.h"
#include "keeper/profiles.h"
#include "platform/platform.h"
#include "platform/tools.h"

namespace ctl {
namespace {

// The probe's answer, asked again while another program holds the file, up to the bound.
platform::OpenProbe probeWaiting(const std::string& path, bool forWriting) {
  platform::OpenProbe probe = platform::OpenProbe::Busy;
  for (unsigned step = 0; step < WAIT_STEPS; ++step) {
    probe = platform::probeOpen(path.c_str(), forWriting);
    if (probe != platform::OpenProbe::Busy) break;
    platform::sleepMilliseconds(WAIT_STEP_MS);
  }
  return probe;
}

// One try at loading the file as the keeper does; false when it could not be read whole.
bool tryLoad(const std::string& path, std::vector<Record>& records, Encoding& encoding) {
  const keeper::LoadedProfiles loaded = keeper::loadProfilesAt(path.c_str());
  if (loaded.status != keeper::LoadStatus::Loaded) return false;
  encoding = loaded.encoding == keeper::FileEncoding::Utf8 ? Encoding::Utf8 : Encoding::Ansi;
  records.clear();
  records.reserve(loaded.table.count);
  for (std::uint32_t i = 0; i < loaded.table.count; ++i) {
    const keeper::UserResolution& r = loaded.table.records[i];
    records.push_back({r.userName, {r.width, r.height}});
  }
  return true;
}

}  // namespace

int loadWaiting(const std::string& path, std::vector<Record>& records, Encoding& encoding,
                bool& busy) {
  busy = false;
  records.clear();
  for (unsigned step = 0; step < WAIT_STEPS; ++step) {
    if (tryLoad(path, records, encoding)) return EXIT_OK;
    switch (platform::probeOpen(path.c_str(), false)) {
      case platform::OpenProbe::Missing:
        return EXIT_NO_FILE;
      case platform::OpenProbe::Denied:
      case platform::OpenProbe::Failed:
        return EXIT_UNREADABLE;
      case platform::OpenProbe::Busy:
      case platform::OpenProbe::Opened:  // held a moment ago, or short of memory: try again
        break;
    }
    platform::sleepMilliseconds(WAIT_STEP_MS);
  }
  busy = true;
  return EXIT_UNREADABLE;
}

int probeWritable(const std::string& path) {
  switch (probeWaiting(path, true)) {
    case platform::OpenProbe::Opened:
      return EXIT_OK;
    case platform::OpenProbe::Missing:
      return EXIT_NO_FILE;
    case platform::OpenProbe::Busy:
      return EXIT_UNREADABLE;
    case platform::OpenProbe::Denied:
    case platform::OpenProbe::Failed:
      break;
  }
  return EXIT_UNWRITABLE;
}

const Record* findRecord(const std::vector<Record>& records, const std::string& name) {
  for (const Record& record : records) {
    if (record.user == name) return &record;
  }
  return nullptr;
}

int loadRecords(const Folder& folder, std::vector<Record>& records) {
  Encoding encoding = Encoding::Unknown;
  bool busy = false;
  return loadWaiting(preferenceFilePath(folder), records, encoding, busy);
}

}  // namespace ctl
