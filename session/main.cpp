// reskeeper-session.exe, the Windows session starter, which the package's logon task and its
// all-users Startup shortcut run as each user logs on: it starts reskeeper.exe from its own
// folder, working in the user's own %APPDATA%\reskeeper (made with an empty Data\Pref.txt when
// missing), or in the shared layout in the shared folder the package made, and ends. A
// GUI-subsystem program that opens no window and reads no command line (its arguments are
// declared without the OS header, as the keeper's are). It starts nothing when it cannot make
// the user's file, when the shared folder is not one it can rely on, or when a keeper already
// runs in the session.
#include "keeper/keeper.h"
#include "keeper/profiles.h"
#include "platform/platform.h"
#include "platform/session.h"
#include "platform/tools.h"
#include "product_facts.h"

namespace {

// The folder of reskeeper's own, in %APPDATA% for each user and in %ProgramData% for the shared
// layout; the keeper beside this program.
constexpr char FOLDER_NAME[] = RESKEEPER_FOLDER_NAME;
constexpr char KEEPER[] = RESKEEPER_KEEPER_PROGRAM;
constexpr std::uint32_t PATH_CAPACITY = 2048;

// A user's new file starts with their record from the machine's shared file, as the keeper
// would load it, so that moving a machine to files per user loses nobody's size; but only from
// a shared file that no other user could have placed, swapped or written (in the per-user
// layout nothing is made under %ProgramData%, and the package closes the old shared file to
// users' writes, so a file any user could change could choose others' first sizes).
// Nothing is written when there is no such record, and a failed write leaves the file empty:
// the keeper then records the user afresh.
void startFromSharedRecord(const platform::SessionFolder& folder) {
  platform::SessionFolder sharedFolder;
  char shared[PATH_CAPACITY];
  char own[PATH_CAPACITY];
  if (!platform::programDataFolder(FOLDER_NAME, &sharedFolder) ||
      !platform::trustedFile(sharedFolder, keeper::PREFERENCE_FILE, platform::OthersMay::Read) ||
      platform::ansiPath(sharedFolder, keeper::PREFERENCE_FILE, shared, sizeof shared) == 0 ||
      platform::ansiPath(folder, keeper::PREFERENCE_FILE, own, sizeof own) == 0) {
    return;
  }
  const keeper::UserName user = keeper::currentUserName();
  const keeper::LoadedProfiles profiles = keeper::loadProfilesAt(shared);
  if (const keeper::UserResolution* record = keeper::findProfile(profiles, user.text)) {
    keeper::storeUserSize(own, user.text, record->width, record->height);
  }
}

// The user's own folder, with its file made when missing; false when it cannot be.
bool userFolder(platform::SessionFolder* folder) {
  if (!platform::userWorkingFolder(FOLDER_NAME, folder)) return false;
  switch (platform::makeFileIfMissing(*folder, keeper::PREFERENCE_FILE)) {
    case platform::MadeFile::Failed:
      return false;
    case platform::MadeFile::Created:
      startFromSharedRecord(*folder);
      return true;
    case platform::MadeFile::Existed:
      return true;
  }
  return false;
}

// The shared layout's folder, when every user's keeper can rely on it: no other user could have
// placed or changed it, Data or Pref.txt, beyond writing the file's bytes.
bool sharedFolder(platform::SessionFolder* folder) {
  return platform::installedSharedFolder(folder) &&
         platform::trustedFile(*folder, keeper::PREFERENCE_FILE,
                               platform::OthersMay::WriteItsBytes);
}

}  // namespace

extern "C" int __stdcall WinMain(void* /*instance*/, void* /*previous*/, char* /*commandLine*/,
                                 int /*show*/) {
  platform::loadLibrariesFromSystemOnly();
  platform::becomeReadyForInput();
  platform::SessionFolder folder;
  const bool found = platform::installedLayout() == platform::Layout::Shared ? sharedFolder(&folder)
                                                                             : userFolder(&folder);
  if (!found) return 1;
  return platform::startKeeperOnce(KEEPER, folder) ? 0 : 1;
}
