// The shared folder (%ProgramData%\reskeeper), its Data folder and Data\Pref.txt: made with the
// package's rights for the shared layout, and the file closed to Users' writes when the machine
// moves to files per user.
#include <cwchar>

#include "packaging/windows/setuphelper/helper.h"
#include "platform/trust.h"

namespace helper {
namespace {

constexpr Wanted MADE_FOLDER{true, RESKEEPER_FOLDER_RIGHTS_W};
constexpr Wanted MADE_FILE{false, RESKEEPER_FILE_RIGHTS_W};
constexpr Wanted EXISTING_FOLDER{true, nullptr};
constexpr Wanted EXISTING_FILE{false, nullptr};

// Whether `path` is a folder below a local drive's root, written in full (a drive letter, and
// names that Windows takes as they are), on a drive that keeps rights.
bool validPath(const wchar_t* path) {
  wchar_t full[PATH_CAPACITY];
  const wchar_t root[4] = {path[0], L':', L'\\', L'\0'};
  const std::size_t length = std::wcslen(path);
  DWORD flags = 0;
  if (length < 4 || length >= MAX_PATH || !iswalpha(path[0]) || path[1] != L':' ||
      path[2] != L'\\' || path[length - 1] == L'\\' || std::wcschr(path + 2, L':') != nullptr ||
      ::GetFullPathNameW(path, PATH_CAPACITY, full, nullptr) != length ||
      std::wcscmp(full, path) != 0) {
    say(path, L"is not a folder below a local drive's root, written in full");
    return false;
  }
  const UINT type = ::GetDriveTypeW(root);
  if ((type != DRIVE_FIXED && type != DRIVE_REMOVABLE) ||
      !::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
      (flags & FILE_PERSISTENT_ACLS) == 0) {
    say(path, L"is not on a local drive that keeps rights (NTFS)");
    return false;
  }
  return true;
}

// Holds the folder, Data and Pref.txt, outside in, each examined before the next is opened
// through it: made as `folder` and `file` say where missing, else relied on only when no one
// but the trusted accounts could have placed or changed it (the file's bytes aside, which
// every user's keeper writes). Stops at the first that is missing (OK, held.handle invalid).
Result holdShared(const wchar_t* path, Wanted folder, Wanted file, Held* top, Held* data,
                  Held* preferences) {
  using platform::trust::FILE_CHANGES;
  using platform::trust::FOLDER_CHANGES;
  Result result = holdPath(path, folder, top);
  if (result == OK && !absent(*top)) result = examine(*top, folder, FOLDER_CHANGES);
  if (result == OK && !absent(*top)) {
    result = holdChild(*top, RESKEEPER_DATA_FOLDER_W, folder, data);
    if (result == OK && !absent(*data)) result = examine(*data, folder, FOLDER_CHANGES);
  }
  if (result == OK && !absent(*data)) {
    result = holdChild(*data, RESKEEPER_PREFERENCE_FILE_W, file, preferences);
    if (result == OK && !absent(*preferences)) result = examine(*preferences, file, FILE_CHANGES);
  }
  return result;
}

}  // namespace

// Makes what is missing with its final rights (an empty Pref.txt, which the keeper never makes
// itself); keeps what is there, reopening to Users' writes a Pref.txt that a move to files per
// user closed. A folder or file that is a link, is reached through one, has further names, or
// that another user could have placed or changed, is refused: nothing is granted on it.
Result prepareShared(const wchar_t* folder) noexcept {
  if (!validPath(folder)) return KIND;
  Held top;
  Held data;
  Held preferences;
  Result result = holdShared(folder, MADE_FOLDER, MADE_FILE, &top, &data, &preferences);
  if (result == OK && absent(preferences)) {
    say(folder, L"cannot be made");
    result = FAILED;
  }
  if (result == OK && !preferences.made && hasRights(preferences, RESKEEPER_CLOSED_FILE_RIGHTS_W)) {
    result = setRights(preferences, RESKEEPER_FILE_RIGHTS_W);
  }
  return result;
}

// Closes the package's own shared Pref.txt to Users' writes (they keep reading it): the record
// each user's own file starts from is then the administrators' alone. What is missing, not the
// package's, or not with the package's rights for the shared layout is left as it is.
Result closeShared(const wchar_t* folder) noexcept {
  if (!validPath(folder)) return KIND;
  Held top;
  Held data;
  Held preferences;
  const Result result =
      holdShared(folder, EXISTING_FOLDER, EXISTING_FILE, &top, &data, &preferences);
  if (result != OK) {
    say(folder, L"is left as it is: it is not the package's own");
    return result;
  }
  if (absent(preferences) || !hasRights(preferences, RESKEEPER_FILE_RIGHTS_W)) return OK;
  return setRights(preferences, RESKEEPER_CLOSED_FILE_RIGHTS_W);
}

}  // namespace helper
