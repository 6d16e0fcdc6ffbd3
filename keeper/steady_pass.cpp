// Steady passes. A pass is steady when it changed nothing: its load step found every record as
// it was, its apply step recorded nobody, and its save step read the bytes the load step read
// and wrote them back unchanged (or, with no record to write, wrote nothing). Until the table
// or the file changes, every later pass would do the same: so a later load step that reads
// those bytes has nothing to merge, and a later save step that reads them writes them back as
// they are, neither parsing the file. Only a fingerprint of the file is kept between passes,
// never its content.
#include "keeper/state.h"

namespace keeper {
namespace {

// Whether the file holding `file`, with the table as it is now, is the last steady pass's.
bool matchesSteadyPass(const prefs::Fingerprint& file) {
  const KeeperState& k = keeperState();
  return keeperSettings().steadyPasses && k.steady.known &&
         k.steady.tableVersion == k.users.version && k.steady.file == file;
}

}  // namespace

bool loadIsSteady() noexcept {
  KeeperState& k = keeperState();
  k.steady.versionAtLoad = k.users.version;
  k.steady.loadedFile = prefs::fileTrace().opened;
  return matchesSteadyPass(k.steady.loadedFile);
}

bool closeIfSteady() noexcept {
  if (!matchesSteadyPass(prefs::fileTrace().opened)) return false;
  if (keeperState().steady.writes) {
    prefs::closePreferencesRewritingAsRead();
  } else {
    prefs::closePreferences();
  }
  return true;
}

void learnFromSave(bool writes) noexcept {
  KeeperState& k = keeperState();
  const prefs::FileTrace& trace = prefs::fileTrace();
  // A write-back that did not reach the file whole is no pass to repeat.
  const bool wrote = trace.written.length >= 0;
  k.steady.known = k.steady.versionAtLoad == k.users.version &&
                   trace.opened == k.steady.loadedFile &&
                   (writes ? trace.writtenWhole && trace.written == trace.opened : !wrote);
  k.steady.file = trace.opened;
  k.steady.tableVersion = k.users.version;
  k.steady.writes = writes;
}

void forgetSteadyPass() noexcept {
  keeperState().steady.known = false;
}

}  // namespace keeper
