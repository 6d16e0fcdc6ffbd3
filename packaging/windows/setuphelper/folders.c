/* The folders the installers make and lock: the program folder (wherever the setup's /D= puts
 * it) and the shared folder with its Data folder and Pref.txt. `check` examines them and
 * changes nothing; `program` and `shared` make what is missing with its final rights, lock what
 * is there, and examine everything they hold while they hold it. */
#include <wchar.h>

#include "helper.h"

/* Everything the program folder may hold: a reskeeper install. */
static const wchar_t* const PROGRAM_FILES[] = {RESKEEPER_PROGRAM_FILES_W, NULL};

/* Whether PATH is a folder below a local drive's root written in full: a drive letter, and
 * names that Windows takes as they are (GetFullPathName changes nothing), on a drive that keeps
 * rights. */
static BOOL validPath(const wchar_t* path) {
  wchar_t full[PATH_CAPACITY], root[4] = {path[0], L':', L'\\', 0};
  DWORD flags = 0;
  size_t length = wcslen(path);
  if (length < 4 || length >= MAX_PATH || !((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z') ||
      path[1] != L':' || path[2] != L'\\' || path[length - 1] == L'\\' || wcschr(path + 2, L':') ||
      GetFullPathNameW(path, PATH_CAPACITY, full, NULL) != length || wcscmp(full, path)) {
    say(L"is not a folder below a local drive's root, written in full", path);
    return FALSE;
  }
  UINT type = GetDriveTypeW(root);
  if ((type != DRIVE_FIXED && type != DRIVE_REMOVABLE) ||
      !GetVolumeInformationW(root, NULL, 0, NULL, NULL, &flags, NULL, 0) ||
      !(flags & FILE_PERSISTENT_ACLS)) {
    say(L"is not on a local drive that keeps rights (NTFS)", path);
    return FALSE;
  }
  return TRUE;
}

/* PATH's ancestors, up to the drive's root: real folders of trusted owners that no one else
 * may move away (DELETE on a folder below the root, or DELETE_CHILD, WRITE_DAC, WRITE_OWNER
 * anywhere), or PATH could be swapped with another folder under it. */
static int examineAncestors(const wchar_t* path) {
  wchar_t ancestor[PATH_CAPACITY];
  wcscpy(ancestor, path);
  for (BOOL parent = TRUE;; parent = FALSE) {
    wchar_t* cut = wcsrchr(ancestor, L'\\');
    BOOL root = cut == ancestor + 2;
    cut[root ? 1 : 0] = 0;
    DWORD rights = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
    if (!root) rights |= DELETE;
    Held held;
    int result = holdPath(ancestor, LOOK, TRUE, FALSE, &held);
    if (result == SAFE) result = examine(&held, TRUE, rights);
    letGo(&held);
    if (result == ABSENT && parent)
      say(L"does not exist: create the folder's parent first", ancestor);
    if (result != SAFE) return result == ABSENT ? KIND : result;
    if (root) return SAFE;
  }
}

/* Holds FOLDER (looking, or locking and making it when missing) and examines it. */
static int holdFolder(const wchar_t* path, Mode mode, Held* held) {
  int result = holdPath(path, mode, TRUE, mode == LOCK, held);
  if (result == SAFE) result = examine(held, TRUE, 0);
  return result;
}

static int holdFolderIn(const Held* parent, const wchar_t* name, Mode mode, Held* held) {
  int result = holdChild(parent, name, mode, TRUE, mode == LOCK, held);
  if (result == SAFE) result = examine(held, TRUE, 0);
  return result;
}

/* The program folder PATH, which need not exist when looking. */
static int programFolder(const wchar_t* path, Mode mode) {
  Held folder = {.handle = INVALID_HANDLE_VALUE};
  if (!validPath(path)) return KIND;
  int result = examineAncestors(path);
  if (result == SAFE) result = holdFolder(path, mode, &folder);
  if (result == SAFE && mode == LOCK) result = setRights(&folder, FOLDER_RIGHTS);
  if (result == SAFE) result = walk(&folder, mode, PROGRAM_FILES, NULL);
  /* A folder made here and refused is taken away again: it holds nothing. */
  if (result != SAFE && folder.made) deleteWhenLetGo(&folder);
  letGo(&folder);
  return result == ABSENT && mode == LOOK ? SAFE : result;
}

/* Pref.txt with further hard links (which users could make under an earlier version's rights)
 * whose owner and rights are the installers' own is taken over: its bytes are copied into a
 * fresh file with the final rights, which then replaces it, so that the other names keep the
 * old file and nothing is granted on it. Any other is refused. `preferences` then holds the
 * fresh file. */
static int takeOver(const Held* data, Held* preferences) {
  if (!installersOwn(preferences)) {
    say(L"has further hard links elsewhere, and an owner or rights that no installer gave it. "
        L"Remove it and run the installer again",
        preferences->path);
    return LINKS;
  }
  Held fresh;
  int result = holdChild(data, RESKEEPER_PREFERENCE_FILE_W L".new", LOCK, FALSE, FALSE, &fresh);
  if (result == SAFE) { /* left by an install that stopped half-way */
    result = deleteWhenLetGo(&fresh) ? ABSENT : UNKNOWN;
    letGo(&fresh);
  }
  if (result == ABSENT)
    result = holdChild(data, RESKEEPER_PREFERENCE_FILE_W L".new", LOCK, FALSE, TRUE, &fresh);
  if (result != SAFE) return result == ABSENT ? UNKNOWN : result;
  if (!fresh.made || !copyBytes(preferences, &fresh)) {
    say(L"cannot be copied into a file of its own", preferences->path);
    deleteWhenLetGo(&fresh);
    letGo(&fresh);
    return UNKNOWN;
  }
  /* A read-only file could not be replaced; and only a file no one has open can be. */
  result = clearReadOnly(preferences);
  wchar_t path[PATH_CAPACITY];
  wcscpy(path, preferences->path);
  letGo(preferences);
  if (result == SAFE && !renameInto(&fresh, data, RESKEEPER_PREFERENCE_FILE_W)) {
    say(L"is held open by another program and cannot be replaced. Close it and run the "
        L"installer again",
        path);
    result = HELD;
  }
  if (result != SAFE) {
    deleteWhenLetGo(&fresh);
    letGo(&fresh);
    return result;
  }
  *preferences = fresh;
  wcscpy(preferences->path, path);
  return SAFE;
}

/* The shared folder PATH (%ProgramData%\reskeeper), its Data folder and Data\Pref.txt, outside
 * in; when locking, each is made with its final rights where missing (an empty Pref.txt, which
 * the program never makes itself) or locked, and everything else they hold is examined and
 * locked after them. */
static int sharedFolder(const wchar_t* path, Mode mode) {
  Held top = {.handle = INVALID_HANDLE_VALUE}, data = top, preferences = top;
  if (!validPath(path)) return KIND;
  int result = examineAncestors(path);
  if (result == SAFE) result = holdFolder(path, mode, &top);
  if (result == SAFE && mode == LOCK) result = setRights(&top, FOLDER_RIGHTS);
  if (result == SAFE) result = walk(&top, mode, NULL, RESKEEPER_DATA_FOLDER_W);
  if (result == SAFE) result = holdFolderIn(&top, RESKEEPER_DATA_FOLDER_W, mode, &data);
  if (result == SAFE && mode == LOCK) result = setRights(&data, FOLDER_RIGHTS);
  if (result == SAFE) {
    result = holdChild(&data, RESKEEPER_PREFERENCE_FILE_W, mode, FALSE, mode == LOCK, &preferences);
    if (result == SAFE) result = examine(&preferences, FALSE, 0);
    if (result == LINKS && mode == LOCK) {
      result = takeOver(&data, &preferences);
    } else if (result == LINKS) {
      result = installersOwn(&preferences) ? SAFE : LINKS;
      if (result == LINKS)
        say(L"has further hard links elsewhere, and an owner or rights that no installer gave "
            L"it. Remove it and run the installer again",
            preferences.path);
    }
    if (result == SAFE && mode == LOCK) result = setRights(&preferences, FILE_RIGHTS);
    if (result == SAFE && mode == LOCK) result = clearReadOnly(&preferences);
    if (result == ABSENT && mode == LOOK) result = SAFE;
  }
  if (result == SAFE) result = walk(&data, mode, NULL, RESKEEPER_PREFERENCE_FILE_W);
  letGo(&preferences);
  letGo(&data);
  letGo(&top);
  return result == ABSENT && mode == LOOK ? SAFE : result;
}

int checkVerb(int count, wchar_t** arguments) {
  if (count == 2 && !wcscmp(arguments[0], L"program")) return programFolder(arguments[1], LOOK);
  if (count == 2 && !wcscmp(arguments[0], L"shared")) return sharedFolder(arguments[1], LOOK);
  return UNKNOWN;
}

int programVerb(int count, wchar_t** arguments) {
  return count == 1 ? programFolder(arguments[0], LOCK) : UNKNOWN;
}

int sharedVerb(int count, wchar_t** arguments) {
  return count == 1 ? sharedFolder(arguments[0], LOCK) : UNKNOWN;
}
