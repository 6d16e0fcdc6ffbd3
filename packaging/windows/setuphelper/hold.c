/* Holding the paths the helper examines and locks. Each object is opened itself, never what it
 * points to, and examined and given its rights through that handle; what a folder holds is
 * listed through the folder's own handle and opened relative to it, never by a name that is
 * looked up again from the drive's root. Rights are checked only when a handle is opened, so a
 * lock is a handle that others cannot share: asking for DELETE, it fails while anyone else
 * holds the object with DELETE (or, a file, with write access), and once it is held no one else
 * can gain either. */
#include <windows.h>
/* The system's other headers need windows.h first. */
#include <aclapi.h>
#include <sddl.h>
#include <wchar.h>
#include <winternl.h>

#include "helper.h"

/* A sharing violation is tried again for a moment: a virus scanner or an indexer lets go. */
#define HOLD_TRIES 10
#define HOLD_WAIT_MS 200
#define MAX_DEPTH 16
#define LIST_BUFFER 16384

static ACCESS_MASK accessFor(Mode mode, BOOL folder) {
  ACCESS_MASK access = READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  if (mode == LOCK)
    access |= DELETE | WRITE_DAC | WRITE_OWNER | FILE_WRITE_ATTRIBUTES | FILE_READ_DATA;
  if (folder) access |= FILE_LIST_DIRECTORY;
  return access;
}

static ULONG sharingFor(Mode mode, BOOL folder) {
  if (mode == LOOK) return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  return folder ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
}

/* NtCreateFile on NAME (relative to ROOT when it is not NULL), never following a reparse
 * point; gives the Win32 error (0 when opened). */
static DWORD openObject(HANDLE root, const wchar_t* name, ACCESS_MASK access, ULONG sharing,
                        ULONG disposition, ULONG options, const wchar_t* rights, HANDLE* out) {
  UNICODE_STRING text;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK status;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  NTSTATUS result = 0;
  if (rights && !ConvertStringSecurityDescriptorToSecurityDescriptorW(rights, SDDL_REVISION_1,
                                                                      &descriptor, NULL))
    return GetLastError();
  RtlInitUnicodeString(&text, name);
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, descriptor);
  for (int i = 0; i < HOLD_TRIES; i++) {
    result = NtCreateFile(
        out, access, &attributes, &status, NULL, FILE_ATTRIBUTE_NORMAL, sharing, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    if (RtlNtStatusToDosError(result) != ERROR_SHARING_VIOLATION) break;
    Sleep(HOLD_WAIT_MS);
  }
  LocalFree(descriptor);
  return result == 0 ? 0 : RtlNtStatusToDosError(result);
}

/* Opens (or makes) NAME, expected to be a folder or a file; the error when it cannot. The
 * expectation decides only the access and sharing asked for: what is there is examined. */
static DWORD openHeld(HANDLE root, const wchar_t* name, Mode mode, BOOL folder, BOOL make,
                      Held* held) {
  BY_HANDLE_FILE_INFORMATION info;
  DWORD error = ERROR_FILE_NOT_FOUND;
  held->handle = INVALID_HANDLE_VALUE;
  held->made = FALSE;
  if (make) {
    /* A file made is held to be written too. */
    ACCESS_MASK access = accessFor(mode, folder) | DELETE | (folder ? 0 : FILE_WRITE_DATA);
    error = openObject(root, name, access, sharingFor(mode, folder), FILE_CREATE,
                       folder ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE,
                       folder ? FOLDER_RIGHTS : FILE_RIGHTS, &held->handle);
    held->made = error == 0;
  }
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
    error = openObject(root, name, accessFor(mode, folder), sharingFor(mode, folder), FILE_OPEN, 0,
                       NULL, &held->handle);
  if (error) return error;
  held->folder = GetFileInformationByHandle(held->handle, &info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  return 0;
}

/* The result of an open that failed with `error`, said on stdout. */
static int refusal(DWORD error, const wchar_t* path) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return ABSENT;
  if (error == ERROR_SHARING_VIOLATION) {
    say(L"is held open by another program (a window or prompt showing it, a program working "
        L"in it, or one that could delete or change it). Close it, or restart the computer, "
        L"and run the installer again",
        path);
    return HELD;
  }
  say(L"cannot be opened to be examined", path);
  return UNKNOWN;
}

int holdPath(const wchar_t* path, Mode mode, BOOL folder, BOOL make, Held* held) {
  wchar_t name[PATH_CAPACITY + 8], final[PATH_CAPACITY + 8], longer[PATH_CAPACITY];
  held->handle = INVALID_HANDLE_VALUE;
  if (wcslen(path) >= PATH_CAPACITY) {
    say(L"is too long to be examined", path);
    return UNKNOWN;
  }
  wcscpy(held->path, path);
  _snwprintf(name, PATH_CAPACITY + 8, L"\\??\\%ls", path);
  name[PATH_CAPACITY + 7] = 0;
  DWORD error = openHeld(NULL, name, mode, folder, make, held);
  if (error) return refusal(error, path);
  /* A link or junction on the way (or one that the system followed regardless) gives the
   * object another final path; short names are compared in their long form. */
  DWORD length =
      GetFinalPathNameByHandleW(held->handle, final, PATH_CAPACITY + 8, FILE_NAME_NORMALIZED);
  if (!length || length >= PATH_CAPACITY + 8 || wcsncmp(final, L"\\\\?\\", 4)) {
    say(L"cannot be examined: its final path cannot be told", path);
    letGo(held);
    return UNKNOWN;
  }
  DWORD longLength = GetLongPathNameW(path, longer, PATH_CAPACITY);
  if (CompareStringOrdinal(final + 4, -1, path, -1, TRUE) != CSTR_EQUAL &&
      (!longLength || longLength >= PATH_CAPACITY ||
       CompareStringOrdinal(final + 4, -1, longer, -1, TRUE) != CSTR_EQUAL)) {
    say(L"is reached through a link or junction; the installer does not follow links. Remove "
        L"it and run the installer again",
        path);
    letGo(held);
    return REPARSE;
  }
  return SAFE;
}

int holdChild(const Held* parent, const wchar_t* name, Mode mode, BOOL folder, BOOL make,
              Held* held) {
  held->handle = INVALID_HANDLE_VALUE;
  if (wcslen(parent->path) + 1 + wcslen(name) >= PATH_CAPACITY) {
    say(L"holds something whose path is too long to be examined", parent->path);
    return UNKNOWN;
  }
  _snwprintf(held->path, PATH_CAPACITY, L"%ls\\%ls", parent->path, name);
  held->path[PATH_CAPACITY - 1] = 0;
  DWORD error = openHeld(parent->handle, name, mode, folder, make, held);
  return error ? refusal(error, held->path) : SAFE;
}

void letGo(Held* held) {
  if (held->handle != INVALID_HANDLE_VALUE) CloseHandle(held->handle);
  held->handle = INVALID_HANDLE_VALUE;
}

BOOL deleteWhenLetGo(Held* held) {
  FILE_DISPOSITION_INFO disposition = {.DeleteFile = TRUE};
  return SetFileInformationByHandle(held->handle, FileDispositionInfo, &disposition,
                                    sizeof disposition);
}

/* Whether an allow entry of the DACL that applies to the object itself gives anyone but the
 * trusted accounts one of `rights`. No DACL at all gives everyone everything. */
static BOOL othersMay(PACL dacl, DWORD rights) {
  if (!dacl) return TRUE;
  for (DWORD i = 0; i < dacl->AceCount; i++) {
    ACCESS_ALLOWED_ACE* ace;
    if (!GetAce(dacl, i, (void**)&ace) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        (ace->Header.AceFlags & INHERIT_ONLY_ACE))
      continue;
    if ((ace->Mask & rights) && !trusted((PSID)&ace->SidStart)) return TRUE;
  }
  return FALSE;
}

int examine(const Held* held, BOOL folder, DWORD othersMayNot) {
  BY_HANDLE_FILE_INFORMATION info;
  PSID owner = NULL;
  PACL dacl = NULL;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  int result = SAFE;
  if (!GetFileInformationByHandle(held->handle, &info) ||
      GetSecurityInfo(held->handle, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, NULL, &dacl,
                      NULL, &descriptor) != ERROR_SUCCESS) {
    say(L"cannot be examined", held->path);
    result = UNKNOWN;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    say(L"is a link or junction; the installer does not follow links. Remove it and run the "
        L"installer again",
        held->path);
    result = REPARSE;
  } else if (!trusted(owner)) {
    say(L"belongs to someone other than Administrators or SYSTEM. Remove it (or take it over) "
        L"and run the installer again",
        held->path);
    result = OWNER;
  } else if (!!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != folder) {
    say(folder ? L"is a file where a folder belongs" : L"is a folder where a file belongs",
        held->path);
    result = KIND;
  } else if (!folder && info.nNumberOfLinks > 1) {
    result = LINKS;
  } else if (othersMayNot && othersMay(dacl, othersMayNot)) {
    say(L"lets users other than Administrators move or change what is in it. Choose a folder "
        L"below one only administrators may change",
        held->path);
    result = MOVABLE;
  }
  LocalFree(descriptor);
  return result;
}

BOOL installersOwn(const Held* held) {
  PSID owner = NULL, users = NULL;
  PACL dacl = NULL;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  BOOL own = GetSecurityInfo(held->handle, SE_FILE_OBJECT,
                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, NULL,
                             &dacl, NULL, &descriptor) == ERROR_SUCCESS &&
             dacl && trusted(owner) && ConvertStringSidToSidW(L"S-1-5-32-545", &users);
  for (DWORD i = 0; own && i < dacl->AceCount; i++) {
    ACCESS_ALLOWED_ACE* ace;
    own = GetAce(dacl, i, (void**)&ace) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
          (trusted((PSID)&ace->SidStart) || (EqualSid((PSID)&ace->SidStart, users) &&
                                             !(ace->Mask & ~(DWORD)EARLIER_USERS_FILE_ACCESS)));
  }
  LocalFree(users);
  LocalFree(descriptor);
  return own;
}

int setRights(const Held* held, const wchar_t* rights) {
  PSECURITY_DESCRIPTOR descriptor = NULL;
  BOOL set = ConvertStringSecurityDescriptorToSecurityDescriptorW(rights, SDDL_REVISION_1,
                                                                  &descriptor, NULL) &&
             SetKernelObjectSecurity(held->handle,
                                     OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                         DACL_SECURITY_INFORMATION,
                                     descriptor);
  LocalFree(descriptor);
  if (!set) say(L"cannot be given its owner and rights", held->path);
  return set ? SAFE : UNKNOWN;
}

int clearReadOnly(const Held* held) {
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(held->handle, FileBasicInfo, &basic, sizeof basic)) {
    say(L"cannot be examined", held->path);
    return UNKNOWN;
  }
  if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) return SAFE;
  basic.FileAttributes &= ~(DWORD)FILE_ATTRIBUTE_READONLY;
  if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0; /* 0: left as they are */
  basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
  if (!SetFileInformationByHandle(held->handle, FileBasicInfo, &basic, sizeof basic)) {
    say(L"cannot be made writable again", held->path);
    return UNKNOWN;
  }
  return SAFE;
}

static BOOL listed(const wchar_t* name, const wchar_t* const* names) {
  for (; *names; names++)
    if (!_wcsicmp(name, *names)) return TRUE;
  return FALSE;
}

static int walkAt(const Held* folder, Mode mode, const wchar_t* const* only, const wchar_t* skip,
                  int depth);

/* One entry of a folder's listing: examined, and its rights given when locking. */
static int walkEntry(const Held* folder, const wchar_t* name, BOOL isFolder, Mode mode,
                     const wchar_t* const* only, int depth) {
  Held child;
  if (only && (isFolder || !listed(name, only))) {
    wchar_t path[PATH_CAPACITY];
    _snwprintf(path, PATH_CAPACITY, L"%ls\\%ls", folder->path, name);
    path[PATH_CAPACITY - 1] = 0;
    say(L"is not reskeeper's: the program folder must be empty or hold a reskeeper install", path);
    return FOREIGN;
  }
  int result = holdChild(folder, name, mode, isFolder, FALSE, &child);
  if (result == ABSENT) return SAFE; /* gone meanwhile: no longer in the folder */
  if (result == SAFE) result = examine(&child, child.folder, 0);
  if (result == LINKS)
    say(L"has further hard links elsewhere. Remove it and run the installer again", child.path);
  if (result == SAFE && mode == LOCK)
    result = setRights(&child, child.folder ? INHERITED_FOLDER_RIGHTS : INHERITED_FILE_RIGHTS);
  if (result == SAFE && child.folder) {
    if (depth + 1 < MAX_DEPTH) {
      result = walkAt(&child, mode, NULL, NULL, depth + 1);
    } else {
      say(L"is too deep to be examined", child.path);
      result = UNKNOWN;
    }
  }
  letGo(&child);
  return result;
}

static int walkAt(const Held* folder, Mode mode, const wchar_t* const* only, const wchar_t* skip,
                  int depth) {
  FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
  BYTE* buffer = LocalAlloc(LMEM_FIXED, LIST_BUFFER);
  int result = buffer ? SAFE : UNKNOWN;
  while (result == SAFE) {
    if (!GetFileInformationByHandleEx(folder->handle, kind, buffer, LIST_BUFFER)) {
      if (GetLastError() != ERROR_NO_MORE_FILES) {
        say(L"cannot be read", folder->path);
        result = UNKNOWN;
      }
      break;
    }
    kind = FileFullDirectoryInfo;
    for (FILE_FULL_DIR_INFO* entry = (FILE_FULL_DIR_INFO*)buffer; result == SAFE;
         entry = (FILE_FULL_DIR_INFO*)((BYTE*)entry + entry->NextEntryOffset)) {
      wchar_t name[MAX_PATH];
      size_t length = entry->FileNameLength / sizeof(wchar_t);
      if (length >= MAX_PATH) {
        say(L"holds a name too long to be examined", folder->path);
        result = UNKNOWN;
        break;
      }
      wmemcpy(name, entry->FileName, length);
      name[length] = 0;
      if (wcscmp(name, L".") && wcscmp(name, L"..") && !(skip && !_wcsicmp(name, skip)))
        result = walkEntry(folder, name, !!(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY), mode,
                           only, depth);
      if (!entry->NextEntryOffset) break;
    }
  }
  LocalFree(buffer);
  return result;
}

int walk(const Held* folder, Mode mode, const wchar_t* const* only, const wchar_t* skip) {
  return walkAt(folder, mode, only, skip, 0);
}

BOOL copyBytes(const Held* from, const Held* to) {
  BYTE* buffer = LocalAlloc(LMEM_FIXED, 65536);
  DWORD got = 0, written = 0;
  BOOL ok = buffer != NULL;
  while (ok && (ok = ReadFile(from->handle, buffer, 65536, &got, NULL)) && got)
    ok = WriteFile(to->handle, buffer, got, &written, NULL) && written == got;
  LocalFree(buffer);
  return ok && FlushFileBuffers(to->handle);
}

BOOL renameInto(const Held* file, const Held* folder, const wchar_t* name) {
  size_t length = wcslen(name);
  size_t size = sizeof(FILE_RENAME_INFORMATION) + length * sizeof(wchar_t);
  FILE_RENAME_INFORMATION* rename = LocalAlloc(LPTR, size);
  IO_STATUS_BLOCK status;
  NTSTATUS result = 1;
  if (!rename) return FALSE;
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = folder->handle;
  rename->FileNameLength = (ULONG)(length * sizeof(wchar_t));
  wmemcpy(rename->FileName, name, length);
  for (int i = 0; i < HOLD_TRIES && result; i++) {
    result =
        NtSetInformationFile(file->handle, &status, rename, (ULONG)size, FileRenameInformation);
    if (result) Sleep(HOLD_WAIT_MS);
  }
  LocalFree(rename);
  return result == 0;
}
