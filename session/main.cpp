// reskeeper-session.exe, the Windows session starter, which the installers' all-users Startup
// shortcut runs in the per-user layout: as the user who logs on, it makes that user's own
// %APPDATA%\reskeeper\Data\Pref.txt when it is missing, then starts reskeeper.exe from its own
// folder working in %APPDATA%\reskeeper, and ends. A GUI-subsystem program that opens no window
// and reads no command line (its arguments are declared without the OS header, as the keeper's
// are); when it cannot make the file it starts nothing. It starts nothing either when a keeper
// already runs in the session.
#include "keeper/keeper.h"
#include "keeper/profiles.h"
#include "platform/platform.h"
#include "platform/session.h"
#include "product_facts.h"

namespace {

// The folder of reskeeper's own, in %APPDATA% for each user and in %ProgramData% for the shared
// layout; the keeper beside this program.
constexpr char FOLDER_NAME[] = RESKEEPER_FOLDER_NAME;
constexpr char KEEPER[] = RESKEEPER_KEEPER_PROGRAM;
constexpr std::uint32_t PATH_CAPACITY = 2048;

// A user's new file starts with their record from the machine's shared file, as the keeper
// would load it, so that moving a machine to files per user loses nobody's size; but only from
// a shared file that no other user could have placed or swapped (in the per-user layout nothing
// is made under %ProgramData%, so any user could make one there to choose others' sizes).
// Nothing is written when there is no such record, and a failed write leaves the file empty:
// the keeper then records the user afresh.
void startFromSharedRecord(const platform::SessionFolder& folder) {
  char shared[PATH_CAPACITY];
  char own[PATH_CAPACITY];
  if (platform::installersSharedFile(FOLDER_NAME, keeper::PREFERENCE_FILE, shared, sizeof shared) ==
          0 ||
      platform::ansiPath(folder, keeper::PREFERENCE_FILE, own, sizeof own) == 0) {
    return;
  }
  const keeper::UserName user = keeper::currentUserName();
  const keeper::LoadedProfiles profiles = keeper::loadProfilesAt(shared);
  if (const keeper::UserResolution* record = keeper::findProfile(profiles, user.text)) {
    keeper::storeUserSize(own, user.text, record->width, record->height);
  }
}

}  // namespace

extern "C" int __stdcall WinMain(void* /*instance*/, void* /*previous*/, char* /*commandLine*/,
                                 int /*show*/) {
  platform::becomeReadyForInput();
  platform::SessionFolder folder;
  if (!platform::userWorkingFolder(FOLDER_NAME, &folder)) return 1;
  switch (platform::makeFileIfMissing(folder, keeper::PREFERENCE_FILE)) {
    case platform::MadeFile::Failed:
      return 1;
    case platform::MadeFile::Created:
      startFromSharedRecord(folder);
      break;
    case platform::MadeFile::Existed:
      break;
  }
  if (platform::keeperRunning()) return 0;
  return platform::startBeside(KEEPER, folder) ? 0 : 1;
}
