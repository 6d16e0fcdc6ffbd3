// The preference file read as the keeper reads it, and probed for this user's rights, with a
// bounded wait while another program holds it.
#include "ctl/internal.h"
#include "keeper/profiles.h"
#include "platform/platform.h"
#include "platform/tools.h"

namespace ctl {
namespace {

// One try at loading the file as the keeper does; false when it could not be read whole.
bool tryLoad(const std::string& path, std::vector<Record>& records,
             keeper::FileEncoding& encoding) {
  const keeper::LoadedProfiles loaded = keeper::loadProfilesAt(path.c_str());
  if (loaded.status != keeper::LoadStatus::Loaded) return false;
  encoding = loaded.encoding;
  records.clear();
  records.reserve(loaded.table.count);
  for (std::uint32_t i = 0; i < loaded.table.count; ++i) {
    const keeper::UserResolution& r = loaded.table.records[i];
    records.push_back({r.userName, {r.width, r.height}});
  }
  return true;
}

// What a probe of the file says of this user's access to it.
FileAccess accessOf(platform::OpenProbe probe, bool forWriting) {
  switch (probe) {
    case platform::OpenProbe::Opened:
      return FileAccess::Fine;
    case platform::OpenProbe::Missing:
      return FileAccess::Missing;
    case platform::OpenProbe::Busy:
      return FileAccess::Held;
    case platform::OpenProbe::Denied:
    case platform::OpenProbe::Failed:
      break;
  }
  return forWriting ? FileAccess::Unwritable : FileAccess::Unreadable;
}

}  // namespace

bool staysHeld(const std::function<bool()>& held, void (*sleep)(std::uint32_t milliseconds)) {
  for (unsigned step = 0; step < WAIT_STEPS; ++step) {
    if (!held()) return false;
    sleep(WAIT_STEP_MS);
  }
  return true;
}

std::string heldText(const std::string& file) {
  return "another program held " + file + " for over " +
         std::to_string(WAIT_STEPS * WAIT_STEP_MS / 1000) + " s";
}

FileAccess loadWaiting(const std::string& path, std::vector<Record>& records,
                       keeper::FileEncoding& encoding) {
  records.clear();
  FileAccess access = FileAccess::Held;
  // A file held a moment ago, or a load short of memory, is tried again.
  const bool held = staysHeld([&] {
    if (tryLoad(path, records, encoding)) {
      access = FileAccess::Fine;
      return false;
    }
    access = accessOf(platform::probeOpen(path.c_str(), /*forWriting=*/false),
                      /*forWriting=*/false);
    return access == FileAccess::Fine || access == FileAccess::Held;
  });
  return held ? FileAccess::Held : access;
}

FileAccess probeWritable(const std::string& path) {
  platform::OpenProbe probe = platform::OpenProbe::Busy;
  staysHeld([&] {
    probe = platform::probeOpen(path.c_str(), /*forWriting=*/true);
    return probe == platform::OpenProbe::Busy;
  });
  return accessOf(probe, /*forWriting=*/true);
}

const Record* findRecord(const std::vector<Record>& records, const std::string& name) {
  for (const Record& record : records) {
    if (record.user == name) return &record;
  }
  return nullptr;
}

FileAccess loadRecords(const Folder& folder, std::vector<Record>& records) {
  keeper::FileEncoding encoding = keeper::FileEncoding::Ansi;
  return loadWaiting(preferenceFilePath(folder), records, encoding);
}

}  // namespace ctl
