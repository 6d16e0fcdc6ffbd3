/* Makes the shared folder safe before Windows Installer puts anything into it. The package
   runs it as SYSTEM, before it creates folders or files: it creates %ProgramData%\reskeeper and
   its Data folder with their final rights, or takes over existing ones that administrators own,
   and refuses what a standard user could have planted there beforehand (a junction or link, a
   folder of their own, a Pref.txt with a second name), so that the elevated install never sets
   rights on, or writes into, something a user chose.

       reskeeper-shared-folder.exe FOLDER     exit 0: ready; 2: refused; 1: failed or usage */
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <wchar.h>

/* Administrators and SYSTEM own and control them; Users read the folders and read and write
   the bytes of Pref.txt, and nothing more. */
static const wchar_t FOLDER_SDDL[] =
    L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
static const wchar_t FILE_SDDL[] = L"O:BAG:SYD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12019f;;;BU)";

enum { READY = 0, FAILED = 1, REFUSED = 2 };

static int refuse(const wchar_t *path, const char *why) {
  fwprintf(stderr, L"reskeeper: refusing %ls: %hs; remove it and install again\n", path, why);
  return REFUSED;
}

static int fail(const wchar_t *path, const char *what) {
  fwprintf(stderr, L"reskeeper: %ls: %hs failed (error %lu)\n", path, what, GetLastError());
  return FAILED;
}

/* Whether the object behind `handle` is owned by Administrators, SYSTEM or the account this
   runs as (SYSTEM again, under Windows Installer): nothing else on a shared PC owns what lies
   under %ProgramData% unless a user made it. */
static BOOL ownedByAdministrators(HANDLE handle) {
  PSID owner = NULL;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL,
                      NULL, &descriptor) != ERROR_SUCCESS)
    return FALSE;
  BOOL trusted = IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                 IsWellKnownSid(owner, WinLocalSystemSid);
  HANDLE token;
  if (!trusted && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    union {
      TOKEN_USER user;
      BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } self;
    DWORD size;
    trusted = GetTokenInformation(token, TokenUser, &self, sizeof self, &size) &&
              EqualSid(owner, self.user.User.Sid);
    CloseHandle(token);
  }
  LocalFree(descriptor);
  return trusted;
}

/* Sets owner and protected DACL of `sddl` on the object behind `handle`, never on a path that
   could lead elsewhere. */
static BOOL secure(HANDLE handle, const wchar_t *sddl) {
  PSECURITY_DESCRIPTOR descriptor = NULL;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                            NULL))
    return FALSE;
  PSID owner = NULL;
  PACL dacl = NULL;
  BOOL present = FALSE, defaulted = FALSE;
  BOOL ok = GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
            GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
            SetSecurityInfo(handle, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                PROTECTED_DACL_SECURITY_INFORMATION,
                            owner, NULL, dacl, NULL) == ERROR_SUCCESS;
  LocalFree(descriptor);
  return ok;
}

/* Opens `path` itself, not what a reparse point in its place leads to. */
static HANDLE openItself(const wchar_t *path) {
  return CreateFileW(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

/* Makes the folder `path` with the folder rights, or takes over an existing one that is a
   plain folder owned by administrators. */
static int prepareFolder(const wchar_t *path) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          FOLDER_SDDL, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, NULL))
    return fail(path, "reading the rights");
  BOOL made = CreateDirectoryW(path, &attributes);
  DWORD error = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  if (made)
    return READY;
  if (error != ERROR_ALREADY_EXISTS)
    return fail(path, "creating the folder");
  HANDLE handle = openItself(path);
  if (handle == INVALID_HANDLE_VALUE)
    return fail(path, "opening");
  BY_HANDLE_FILE_INFORMATION info;
  int result = READY;
  if (!GetFileInformationByHandle(handle, &info))
    result = fail(path, "reading its attributes");
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    result = refuse(path, "it is a junction or link");
  else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    result = refuse(path, "it is no folder");
  else if (!ownedByAdministrators(handle))
    result = refuse(path, "it is owned by neither Administrators nor SYSTEM");
  else if (!secure(handle, FOLDER_SDDL))
    result = fail(path, "setting its rights");
  CloseHandle(handle);
  return result;
}

/* An existing Pref.txt holds the users' resolutions: its content stays, its rights become
   the file rights (a setup of old let users replace it, so it may be a user's). Refused when
   it is anything but a plain file with one name, whose rights would be some other file's. */
static int preparePreferences(const wchar_t *path) {
  HANDLE handle = openItself(path);
  if (handle == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? READY : fail(path, "opening");
  BY_HANDLE_FILE_INFORMATION info;
  int result = READY;
  if (!GetFileInformationByHandle(handle, &info))
    result = fail(path, "reading its attributes");
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    result = refuse(path, "it is a link");
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    result = refuse(path, "it is a folder");
  else if (info.nNumberOfLinks != 1)
    result = refuse(path, "it is a hard link to another file");
  else if (!secure(handle, FILE_SDDL))
    result = fail(path, "setting its rights");
  CloseHandle(handle);
  return result;
}

int wmain(int argc, wchar_t **argv) {
  if (argc != 2 || wcslen(argv[1]) > MAX_PATH) {
    fputs("usage: reskeeper-shared-folder.exe FOLDER\n", stderr);
    return FAILED;
  }
  wchar_t data[MAX_PATH + 16], preferences[MAX_PATH + 32];
  swprintf(data, sizeof data / sizeof *data, L"%ls\\Data", argv[1]);
  swprintf(preferences, sizeof preferences / sizeof *preferences, L"%ls\\Pref.txt", data);
  /* Outside in: once a folder is secured, no user can add, remove or rename what it holds. */
  int result = prepareFolder(argv[1]);
  if (result == READY)
    result = prepareFolder(data);
  if (result == READY)
    result = preparePreferences(preferences);
  return result;
}
