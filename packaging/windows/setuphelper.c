/* The installers' helper, run elevated from the setup's plug-ins folder, and as SYSTEM by the
 * Windows Installer package (stored in it, not installed): it examines a path before the
 * installer grants rights on it and locks it, prepares the shared folder, ends running
 * programs by name, and starts a program as the desktop's own user.
 *
 *   setuphelper check folder|file|program PATH
 *       0 PATH is there and safe; 1 it is not there (for `program`, its parent is safe);
 *       20 it is a reparse point (a link or junction), 21 its owner (or an ancestor's) is not
 *       Administrators, SYSTEM, TrustedInstaller or this installer's own account, 22 a file
 *       has further hard links, 23 a folder holds something that is not ours, 24 it is a file
 *       where a folder belongs or the other way round, 25 an ancestor lets others move it
 *       away; 3 it could not be examined. A line for the administrator goes to stdout
 *       (UTF-16), naming the path at fault.
 *   setuphelper lock folder|file|program PATH
 *       the same examination of PATH, which must be there, and on the object examined its owner
 *       and rights (see lock()); the same codes.
 *   setuphelper shared FOLDER    prepares the shared folder FOLDER (see shared()): its Data
 *                                folder and Pref.txt are locked as `lock` does; the same codes.
 *   setuphelper end NAME...      ends every process whose image is named NAME; 0 when none is
 *                                left, 1 when one stays.
 *   setuphelper same-user        0 when the desktop's shell runs as this process's user.
 *   setuphelper start FILE DIR   starts FILE in DIR through the desktop's shell (so as the
 *                                desktop's user, unelevated) when same-user holds; 0 started.
 *
 * Installed as the program folder's uninstall.exe, with any other arguments (/S), it is the
 * registered uninstall command: it runs a copy of the uninstaller beside it (uninstall.dat)
 * from a temporary folder, in place (_?=), waits for it, then removes itself and the folder,
 * and exits with the uninstaller's code; so it returns only when the uninstall is done. */
#define COBJMACROS
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wchar.h>
#include <stdlib.h>

enum {
  SAFE = 0, ABSENT = 1, UNKNOWN = 3, REPARSE = 20, OWNER = 21, LINKS = 22, FOREIGN = 23,
  KIND = 24, MOVABLE = 25
};

static void say(const wchar_t *text, const wchar_t *path) {
  wchar_t line[2048];
  int n = _snwprintf(line, 2047, L"%ls: %ls\r\n", path, text);
  DWORD written;
  if (n < 0)
    n = 2047;
  line[n] = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)(n * sizeof(wchar_t)), &written, NULL);
}

/* The user of a process token; freed by the caller with LocalFree. */
static PSID tokenUser(HANDLE process) {
  HANDLE token;
  DWORD size = 0;
  PSID sid = NULL;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token))
    return NULL;
  GetTokenInformation(token, TokenUser, NULL, 0, &size);
  TOKEN_USER *user = size ? LocalAlloc(LPTR, size) : NULL;
  if (user && GetTokenInformation(token, TokenUser, user, size, &size)) {
    DWORD length = GetLengthSid(user->User.Sid);
    sid = LocalAlloc(LPTR, length);
    if (sid)
      CopySid(length, sid, user->User.Sid);
  }
  LocalFree(user);
  CloseHandle(token);
  return sid;
}

static PSID self;

/* Administrators, SYSTEM, TrustedInstaller (for system folders), or the account running this
 * elevated installer (files it made unelevated are its own under some configurations). */
static BOOL trusted(PSID sid) {
  static const wchar_t *const names[] = {
    L"S-1-5-18", L"S-1-5-32-544",
    L"S-1-5-80-956008885-3418522649-1831038044-1850960474-76113464"};
  if (!sid || !IsValidSid(sid))
    return FALSE;
  if (self && EqualSid(sid, self))
    return TRUE;
  for (size_t i = 0; i < sizeof names / sizeof *names; i++) {
    PSID known;
    if (ConvertStringSidToSidW(names[i], &known)) {
      BOOL equal = EqualSid(sid, known);
      LocalFree(known);
      if (equal)
        return TRUE;
    }
  }
  return FALSE;
}

/* Opens PATH itself, never what it points to. */
static HANDLE openItself(const wchar_t *path) {
  return CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

/* Whether the object open in `h` is reached through a link or junction on the way to PATH (or
 * is one that the system followed regardless): its final path is then another. */
static BOOL redirected(HANDLE h, const wchar_t *path) {
  wchar_t final[MAX_PATH * 2 + 8];
  DWORD length = GetFinalPathNameByHandleW(h, final, MAX_PATH * 2 + 8, FILE_NAME_NORMALIZED);
  DWORD attributes = GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return TRUE;
  if (!length || length >= MAX_PATH * 2 + 8 || wcsncmp(final, L"\\\\?\\", 4))
    return TRUE;
  return CompareStringOrdinal(final + 4, -1, path, -1, TRUE) != CSTR_EQUAL;
}

/* Whether an allow entry of the DACL that applies to the object itself gives anyone but the
 * trusted accounts one of `rights`. No DACL at all gives everyone everything. */
static BOOL othersMay(PACL dacl, DWORD rights) {
  if (!dacl)
    return TRUE;
  for (DWORD i = 0; i < dacl->AceCount; i++) {
    ACCESS_ALLOWED_ACE *ace;
    if (!GetAce(dacl, i, (void **)&ace) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        (ace->Header.AceFlags & INHERIT_ONLY_ACE))
      continue;
    if ((ace->Mask & rights) && !trusted((PSID)&ace->SidStart))
      return TRUE;
  }
  return FALSE;
}

/* Examines the object open in `h` (PATH itself, never what it points to): what it is, its
 * links, its owner; `rights` (when not 0) must be given to no one but the trusted accounts.
 * Gives SAFE or a fault, said on stdout. */
static int examineOpen(HANDLE h, const wchar_t *path, BOOL folder, DWORD rights,
                       BY_HANDLE_FILE_INFORMATION *info) {
  PSID owner = NULL;
  PACL dacl = NULL;
  PSECURITY_DESCRIPTOR sd = NULL;
  int result = SAFE;
  if (!GetFileInformationByHandle(h, info) ||
      GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, NULL, &dacl, NULL, &sd) != ERROR_SUCCESS) {
    say(L"cannot be examined", path);
    result = UNKNOWN;
  } else if ((info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || redirected(h, path)) {
    say(L"is a link or junction, or is reached through one; the installer does not follow "
        L"links. Remove it and run the installer again", path);
    result = REPARSE;
  } else if (!trusted(owner)) {
    say(L"belongs to someone other than Administrators or SYSTEM. Remove it (or take it "
        L"over) and run the installer again", path);
    result = OWNER;
  } else if (!!(info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != folder) {
    say(folder ? L"is a file where a folder belongs" : L"is a folder where a file belongs", path);
    result = KIND;
  } else if (!folder && info->nNumberOfLinks > 1) {
    say(L"has further hard links elsewhere. Remove it and run the installer again", path);
    result = LINKS;
  } else if (rights && othersMay(dacl, rights)) {
    say(L"lets users other than Administrators move or change what is in it. Choose a folder "
        L"below one only administrators may change", path);
    result = MOVABLE;
  }
  LocalFree(sd);
  return result;
}

/* Examines the object at PATH; gives ABSENT when there is none. */
static int examine(const wchar_t *path, BOOL folder, DWORD rights,
                   BY_HANDLE_FILE_INFORMATION *info) {
  HANDLE h = openItself(path);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return ABSENT;
    say(L"cannot be examined", path);
    return UNKNOWN;
  }
  int result = examineOpen(h, path, folder, rights, info);
  CloseHandle(h);
  return result;
}

/* Everything below FOLDER: no reparse point, no file with other hard links, nothing a trusted
 * account does not own; at the top level of a program folder only the program's own files. */
static int examineTree(const wchar_t *folder, int depth, const wchar_t *const *only) {
  wchar_t pattern[MAX_PATH * 2];
  WIN32_FIND_DATAW found;
  _snwprintf(pattern, MAX_PATH * 2, L"%ls\\*", folder);
  pattern[MAX_PATH * 2 - 1] = 0;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? SAFE : (say(L"cannot be read", folder), UNKNOWN);
  int result = SAFE;
  do {
    if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L".."))
      continue;
    wchar_t path[MAX_PATH * 2];
    _snwprintf(path, MAX_PATH * 2, L"%ls\\%ls", folder, found.cFileName);
    path[MAX_PATH * 2 - 1] = 0;
    BOOL isFolder = !!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (only) {
      BOOL ours = FALSE;
      for (const wchar_t *const *name = only; *name && !ours; name++)
        ours = !isFolder && !_wcsicmp(found.cFileName, *name);
      if (!ours) {
        say(L"is not reskeeper's: the program folder must be empty or hold a reskeeper "
            L"install", path);
        result = FOREIGN;
        break;
      }
    }
    BY_HANDLE_FILE_INFORMATION info;
    result = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                 ? (say(L"is a link or junction; the installer does not follow it. Remove it "
                        L"and run the installer again", path), REPARSE)
                 : examine(path, isFolder, 0, &info);
    if (result == ABSENT)
      result = SAFE; /* gone meanwhile */
    if (result == SAFE && isFolder)
      result = depth < 16 ? examineTree(path, depth + 1, NULL) : (say(L"is too deep", path), UNKNOWN);
  } while (result == SAFE && FindNextFileW(search, &found));
  FindClose(search);
  return result;
}

/* A program folder's ancestors, up to the drive's root: real folders of trusted owners that no
 * one else may move away (DELETE on a folder below the root, or DELETE_CHILD, WRITE_DAC,
 * WRITE_OWNER anywhere), or the program folder could be swapped with another under it. */
static int examineAncestors(const wchar_t *path) {
  wchar_t ancestor[MAX_PATH * 2];
  if (!((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z' && path[1] == L':' &&
        path[2] == L'\\') || wcslen(path) >= MAX_PATH * 2 || wcsstr(path, L"\\\\") ||
      wcsstr(path, L"\\..") || path[wcslen(path) - 1] == L'\\') {
    say(L"is not a folder below a local drive's root", path);
    return KIND;
  }
  wcscpy(ancestor, path);
  BOOL parent = TRUE;
  for (wchar_t *cut; (cut = wcsrchr(ancestor, L'\\')) != NULL; parent = FALSE) {
    BOOL root = cut == ancestor + 2;
    cut[root ? 1 : 0] = 0;
    DWORD rights = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
    if (!root)
      rights |= DELETE;
    BY_HANDLE_FILE_INFORMATION info;
    int result = examine(ancestor, TRUE, rights, &info);
    if (result == ABSENT && parent)
      say(L"does not exist: create the program folder's parent first", ancestor);
    if (result != SAFE)
      return result == ABSENT ? KIND : result;
    if (root)
      break;
  }
  return SAFE;
}

static const wchar_t *const PROGRAM_FILES[] = {
  L"reskeeper.exe", L"uninstall.exe", L"uninstall.dat", L"reskeeperctl.exe",
  L"reskeeper-settings.exe", NULL};

static int check(const wchar_t *kind, const wchar_t *path) {
  BOOL program = !wcscmp(kind, L"program");
  BOOL folder = program || !wcscmp(kind, L"folder");
  if (program) {
    int result = examineAncestors(path);
    if (result != SAFE)
      return result;
  }
  BY_HANDLE_FILE_INFORMATION info;
  int result = examine(path, folder, 0, &info);
  if (result == SAFE && folder)
    result = examineTree(path, 0, program ? PROGRAM_FILES : NULL);
  return result;
}

/* Administrators and SYSTEM own and control every folder and file the installers make; Users
 * read and execute the folders, and read and write the bytes of Pref.txt, nothing more. */
static const wchar_t FOLDER_RIGHTS[] =
    L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
static const wchar_t FILE_RIGHTS[] = L"O:BAG:SYD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12019f;;;BU)";

/* Locks PATH as examined: opened without following it and without letting anyone delete or
 * rename it meanwhile, examined through that handle, then given its owner (Administrators) and
 * its rights, inheritance removed, on that very object, without passing them on to what it
 * holds; which is examined afterwards, when no one but administrators can change it any more.
 * icacls then sets the same rights by name, passing them on. */
static int lock(const wchar_t *kind, const wchar_t *path) {
  BOOL program = !wcscmp(kind, L"program");
  BOOL folder = program || !wcscmp(kind, L"folder");
  const wchar_t *rights = folder ? FOLDER_RIGHTS : FILE_RIGHTS;
  if (program) {
    int result = examineAncestors(path);
    if (result != SAFE)
      return result;
  }
  HANDLE h = CreateFileW(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    say(L"cannot be opened to set its rights", path);
    return UNKNOWN;
  }
  BY_HANDLE_FILE_INFORMATION info;
  PSECURITY_DESCRIPTOR sd = NULL;
  int result = examineOpen(h, path, folder, 0, &info);
  if (result == SAFE &&
      (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rights, SDDL_REVISION_1, &sd,
                                                             NULL) ||
       !SetKernelObjectSecurity(h, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                       DACL_SECURITY_INFORMATION, sd))) {
    say(L"cannot be given its owner and rights", path);
    result = UNKNOWN;
  }
  LocalFree(sd);
  CloseHandle(h);
  if (result == SAFE && folder)
    result = examineTree(path, 0, program ? PROGRAM_FILES : NULL);
  return result;
}

/* Makes the folder PATH with its final rights, so that no one else can place anything in it
 * meanwhile; one that is there already (or anything else by that name) is for lock() to
 * examine. */
static int makeFolder(const wchar_t *path) {
  SECURITY_ATTRIBUTES attributes = {.nLength = sizeof attributes};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          FOLDER_RIGHTS, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, NULL)) {
    say(L"cannot be given its rights", path);
    return UNKNOWN;
  }
  BOOL made = CreateDirectoryW(path, &attributes);
  DWORD error = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  if (!made && error != ERROR_ALREADY_EXISTS) {
    say(L"cannot be created", path);
    return UNKNOWN;
  }
  return SAFE;
}

/* The shared folder FOLDER (%ProgramData%\reskeeper) and its Data folder, outside in: each made
 * with its final rights where missing, then locked as examined, so that nothing can be placed
 * in it afterwards but by administrators; then an existing Data\Pref.txt, whose content stays,
 * locked as a file. Nothing a user could have planted there beforehand (a link or junction,
 * something of their own, a Pref.txt with further names) is taken over: the same codes as
 * lock. Both installers run this before they create or grant anything there. */
static int shared(const wchar_t *folder) {
  wchar_t data[MAX_PATH * 2], preferences[MAX_PATH * 2];
  if (wcslen(folder) >= MAX_PATH) {
    say(L"is too long", folder);
    return KIND;
  }
  _snwprintf(data, MAX_PATH * 2, L"%ls\\Data", folder);
  data[MAX_PATH * 2 - 1] = 0;
  _snwprintf(preferences, MAX_PATH * 2, L"%ls\\Pref.txt", data);
  preferences[MAX_PATH * 2 - 1] = 0;
  const wchar_t *const folders[] = {folder, data};
  for (int i = 0; i < 2; i++) {
    int result = makeFolder(folders[i]);
    if (result == SAFE)
      result = lock(L"folder", folders[i]);
    if (result != SAFE)
      return result;
  }
  if (GetFileAttributesW(preferences) == INVALID_FILE_ATTRIBUTES &&
      GetLastError() == ERROR_FILE_NOT_FOUND)
    return SAFE;
  return lock(L"file", preferences);
}

/* Administrators may end other users' programs only with the debug privilege enabled. */
static void enableDebugPrivilege(void) {
  HANDLE token;
  TOKEN_PRIVILEGES privileges = {.PrivilegeCount = 1};
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
    if (LookupPrivilegeValueW(NULL, L"SeDebugPrivilege", &privileges.Privileges[0].Luid))
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    CloseHandle(token);
  }
}

static int end(int count, wchar_t **names) {
  enableDebugPrivilege();
  for (int round = 0; round < 3; round++) {
    int left = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {.dwSize = sizeof entry};
    if (snapshot == INVALID_HANDLE_VALUE)
      return 1;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
      BOOL named = FALSE;
      for (int i = 0; i < count && !named; i++)
        named = !_wcsicmp(entry.szExeFile, names[i]);
      if (!named || entry.th32ProcessID == GetCurrentProcessId())
        continue;
      left++;
      HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
      if (process) {
        if (TerminateProcess(process, 1))
          WaitForSingleObject(process, 10000);
        CloseHandle(process);
      }
    }
    CloseHandle(snapshot);
    if (!left)
      return 0;
  }
  return 1;
}

/* Whether the desktop's shell runs as this process's user: only then is a program started
 * through it started as the person at the installer. */
static BOOL sameUser(void) {
  HWND shell = GetShellWindow();
  DWORD pid = 0;
  BOOL same = FALSE;
  if (!shell || !GetWindowThreadProcessId(shell, &pid) || !pid || !self)
    return FALSE;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process) {
    PSID user = tokenUser(process);
    same = user && EqualSid(user, self);
    LocalFree(user);
    CloseHandle(process);
  }
  return same;
}

/* ShellExecute in the desktop shell's own process: the program runs as the desktop's user,
 * with that user's unelevated rights. */
static BOOL startThroughDesktop(const wchar_t *file, const wchar_t *folder) {
  IShellWindows *windows = NULL;
  IDispatch *desktop = NULL, *background = NULL, *application = NULL;
  IServiceProvider *services = NULL;
  IShellBrowser *browser = NULL;
  IShellView *view = NULL;
  IShellFolderViewDual *folderView = NULL;
  IShellDispatch2 *shell = NULL;
  BOOL started = FALSE;
  VARIANT desktopLocation, none, directory, show;
  long hwnd = 0;
  VariantInit(&desktopLocation);
  desktopLocation.vt = VT_I4;
  desktopLocation.lVal = CSIDL_DESKTOP;
  VariantInit(&none);
  VariantInit(&directory);
  VariantInit(&show);
  if (FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)))
    return FALSE;
  if (SUCCEEDED(CoCreateInstance(&CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER,
                                 &IID_IShellWindows, (void **)&windows)) &&
      IShellWindows_FindWindowSW(windows, &desktopLocation, &none, SWC_DESKTOP, &hwnd,
                                 SWFO_NEEDDISPATCH, &desktop) == S_OK && desktop &&
      SUCCEEDED(IDispatch_QueryInterface(desktop, &IID_IServiceProvider, (void **)&services)) &&
      SUCCEEDED(IServiceProvider_QueryService(services, &SID_STopLevelBrowser, &IID_IShellBrowser,
                                              (void **)&browser)) &&
      SUCCEEDED(IShellBrowser_QueryActiveShellView(browser, &view)) &&
      SUCCEEDED(IShellView_GetItemObject(view, SVGIO_BACKGROUND, &IID_IDispatch,
                                         (void **)&background)) &&
      SUCCEEDED(IDispatch_QueryInterface(background, &IID_IShellFolderViewDual,
                                         (void **)&folderView)) &&
      SUCCEEDED(IShellFolderViewDual_get_Application(folderView, &application)) &&
      SUCCEEDED(IDispatch_QueryInterface(application, &IID_IShellDispatch2, (void **)&shell))) {
    BSTR name = SysAllocString(file);
    directory.vt = VT_BSTR;
    directory.bstrVal = SysAllocString(folder);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    started = name && directory.bstrVal &&
              SUCCEEDED(IShellDispatch2_ShellExecute(shell, name, none, directory, none, show));
    SysFreeString(name);
    VariantClear(&directory);
  }
  if (shell) IShellDispatch2_Release(shell);
  if (application) IDispatch_Release(application);
  if (folderView) IShellFolderViewDual_Release(folderView);
  if (background) IDispatch_Release(background);
  if (view) IShellView_Release(view);
  if (browser) IShellBrowser_Release(browser);
  if (services) IServiceProvider_Release(services);
  if (desktop) IDispatch_Release(desktop);
  if (windows) IShellWindows_Release(windows);
  CoUninitialize();
  return started;
}

/* A new folder in the temporary folder that only Administrators and SYSTEM may enter, so that
 * no one can place anything in it (the system's temporary folder lets users create files). */
static BOOL makePrivateFolder(wchar_t *folder) {
  wchar_t temp[MAX_PATH];
  SECURITY_ATTRIBUTES attributes = {.nLength = sizeof attributes};
  DWORD length = GetTempPathW(MAX_PATH, temp);
  BOOL made = FALSE;
  if (!length || length > MAX_PATH - 40 ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
          &attributes.lpSecurityDescriptor, NULL))
    return FALSE;
  for (int i = 0; i < 100 && !made; i++) {
    _snwprintf(folder, MAX_PATH, L"%lsreskeeper-uninstall-%08lx", temp,
               (unsigned long)(GetTickCount() ^ (GetCurrentProcessId() << 12) ^ (i * 7919)));
    made = CreateDirectoryW(folder, &attributes);
  }
  LocalFree(attributes.lpSecurityDescriptor);
  return made;
}

static int uninstall(int argc, wchar_t **argv) {
  wchar_t self[MAX_PATH], folder[MAX_PATH], data[MAX_PATH], temp[MAX_PATH], copy[MAX_PATH],
      moved[MAX_PATH], line[4 * MAX_PATH] = L"";
  DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH);
  wchar_t *slash = wcsrchr(self, L'\\');
  if (!length || length >= MAX_PATH || !slash || !makePrivateFolder(temp))
    return 1603;
  wcsncpy(folder, self, slash - self);
  folder[slash - self] = 0;
  _snwprintf(data, MAX_PATH, L"%ls\\uninstall.dat", folder);
  _snwprintf(copy, MAX_PATH, L"%ls\\uninstall.exe", temp);
  _snwprintf(moved, MAX_PATH, L"%ls\\uninstall-launcher.exe", temp);
  _snwprintf(line, sizeof line / sizeof *line, L"\"%ls\"", copy);
  for (int i = 1; i < argc; i++)
    if (wcslen(line) + wcslen(argv[i]) + 2 < sizeof line / sizeof *line - MAX_PATH - 8) {
      wcscat(line, L" ");
      wcscat(line, argv[i]);
    }
  wcscat(line, L" _?=");
  wcscat(line, folder);
  DWORD code = 1603;
  STARTUPINFOW startup = {.cb = sizeof startup};
  PROCESS_INFORMATION process;
  if (!CopyFileW(data, copy, TRUE)) {
    code = GetLastError() == ERROR_FILE_NOT_FOUND ? 1605 : 1603; /* not installed here */
  } else if (!CreateProcessW(copy, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    code = GetLastError() == 740 /* ERROR_ELEVATION_REQUIRED */ ? 740 : 1603;
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  DeleteFileW(copy);
  /* Once the uninstaller has removed the rest, this file moves out of the folder (a running
   * program's file may be moved, not deleted) and is deleted at the next restart; on another
   * drive than the temporary folder, it stays there until then. */
  if (code == 0 && GetFileAttributesW(data) == INVALID_FILE_ATTRIBUTES) {
    if (MoveFileExW(self, moved, 0)) {
      MoveFileExW(moved, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
      RemoveDirectoryW(folder); /* stays when it holds files of someone else's */
    } else {
      MoveFileExW(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
      MoveFileExW(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
      code = 3010;
    }
  }
  if (!RemoveDirectoryW(temp))
    MoveFileExW(temp, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  return (int)code;
}

int wmain(int argc, wchar_t **argv) {
  /* Run from the setup's temporary folder, it loads no library from its own folder: only from
   * System32 (where the system offers the choice: Windows 8, or 7 with KB2533623). */
  typedef BOOL(WINAPI * SetDllDirectories)(DWORD);
  SetDllDirectories systemOnly = (SetDllDirectories)(void (*)(void))GetProcAddress(
      GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (systemOnly)
    systemOnly(0x800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
  self = tokenUser(GetCurrentProcess());
  BOOL kind = argc == 4 && (!wcscmp(argv[2], L"folder") || !wcscmp(argv[2], L"file") ||
                            !wcscmp(argv[2], L"program"));
  if (kind && !wcscmp(argv[1], L"check"))
    return check(argv[2], argv[3]);
  if (kind && !wcscmp(argv[1], L"lock"))
    return lock(argv[2], argv[3]);
  if (argc == 3 && !wcscmp(argv[1], L"shared"))
    return shared(argv[2]);
  if (argc >= 3 && !wcscmp(argv[1], L"end"))
    return end(argc - 2, argv + 2);
  if (argc == 2 && !wcscmp(argv[1], L"same-user"))
    return sameUser() ? 0 : 1;
  if (argc == 4 && !wcscmp(argv[1], L"start"))
    return sameUser() && startThroughDesktop(argv[2], argv[3]) ? 0 : 1;
  return uninstall(argc, argv);
}
