// Opening the folders and files the helper examines and makes. Each object is opened itself,
// never what it points to, and examined and given its rights through that handle; what a
// folder holds is opened relative to the folder's own handle, never by a name looked up again
// from the drive's root. Only access that share modes do not govern is asked for (reading the
// object's rights and attributes, changing its rights), so that no one else's open, whatever
// it shares, can make the helper fail; what no one else may rename, delete or change (the rule
// in platform/trust.h) needs no holding against them.
#include <windows.h>
// The system's other headers need windows.h first.
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cwchar>

#include "packaging/windows/setuphelper/helper.h"
#include "platform/trust.h"

namespace helper {
namespace {

// The statuses the helper tells apart (ntstatus.h, which cannot be included beside windows.h).
constexpr NTSTATUS NOT_FOUND = static_cast<NTSTATUS>(0xC0000034L);   // OBJECT_NAME_NOT_FOUND
constexpr NTSTATUS EXISTS = static_cast<NTSTATUS>(0xC0000035L);      // OBJECT_NAME_COLLISION
constexpr NTSTATUS BAD_RIGHTS = static_cast<NTSTATUS>(0xC000000DL);  // INVALID_PARAMETER

// The account this helper runs as (SYSTEM, from the package); empty when it cannot be told.
const void* self() noexcept {
  static platform::trust::Account account;
  static const bool known = platform::trust::processAccount(&account);
  return known ? account.sid : nullptr;
}

// NtCreateFile on `name` (relative to `root` when that is not null), never following a
// reparse point: made with `rights` when given and nothing is there, else opened.
NTSTATUS openObject(HANDLE root, const wchar_t* name, Wanted wanted, HANDLE* out, bool* made) {
  const ACCESS_MASK access =
      READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE | (wanted.folder ? 0 : WRITE_DAC);
  const ULONG sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const ULONG options = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT;
  UNICODE_STRING text;
  ::RtlInitUnicodeString(&text, name);
  IO_STATUS_BLOCK status;
  *made = false;
  NTSTATUS result = NOT_FOUND;
  if (wanted.rights != nullptr) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(wanted.rights, SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
      return BAD_RIGHTS;
    }
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, descriptor);
    result = ::NtCreateFile(
        out, access, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, sharing, FILE_CREATE,
        options | (wanted.folder ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE), nullptr, 0);
    ::LocalFree(descriptor);
    *made = result == 0;
    if (result != EXISTS) return result;
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
  return ::NtCreateFile(out, access, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, sharing,
                        FILE_OPEN, options, nullptr, 0);
}

// The result of an open that failed with `status`: nothing there (OK, nothing held), or the
// refusal, said on stdout.
Result refusal(NTSTATUS status, const wchar_t* path) {
  const DWORD error = ::RtlNtStatusToDosError(status);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return OK;
  if (error == ERROR_SHARING_VIOLATION) {
    say(path,
        L"is held open by another program. Close it, or restart the computer, and "
        L"install again");
    return HELD;
  }
  say(path, L"cannot be opened to be examined");
  return FAILED;
}

Result hold(HANDLE root, const wchar_t* name, Wanted wanted, Held* held) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool made = false;
  const NTSTATUS status = openObject(root, name, wanted, &handle, &made);
  if (status != 0) return refusal(status, held->path);
  held->handle = handle;
  held->made = made;
  return OK;
}

// The held object's owner and DACL, in a descriptor freed with LocalFree; nullptr when they
// cannot be read.
PSECURITY_DESCRIPTOR rightsOf(const Held& held) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  if (::GetSecurityInfo(held.handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return nullptr;
  }
  return descriptor;
}

// Whether the object held is reached by its own path (platform/trust.h). LINK or FAILED said on
// stdout otherwise.
Result reachedByItsPath(const Held& held) noexcept {
  switch (platform::trust::reachedBy(held.handle, held.path)) {
    case platform::trust::Reached::ByItsPath:
      return OK;
    case platform::trust::Reached::ByAnother:
      say(held.path,
          L"is reached through a link or junction, which the package never follows. "
          L"Delete the link and install again");
      return LINK;
    case platform::trust::Reached::Unknown:
      break;
  }
  say(held.path, L"cannot be examined: its final path cannot be told");
  return FAILED;
}

}  // namespace

void say(const wchar_t* path, const wchar_t* text) noexcept {
  wchar_t line[2048];
  int length = _snwprintf(line, 2047, L"%ls: %ls\r\n", path, text);
  if (length < 0) length = 2047;
  line[length] = L'\0';
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length * sizeof(wchar_t)),
              &written, nullptr);
  // Windows Installer keeps no program's output: the Application event log keeps the line.
  const HANDLE log = ::RegisterEventSourceW(nullptr, L"reskeeper");
  if (log != nullptr) {
    const wchar_t* strings[] = {line};
    ::ReportEventW(log, EVENTLOG_WARNING_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    ::DeregisterEventSource(log);
  }
}

Held::~Held() {
  if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
}

Result holdPath(const wchar_t* path, Wanted wanted, Held* held) noexcept {
  wchar_t name[PATH_CAPACITY + 8];
  if (std::wcslen(path) >= PATH_CAPACITY) {
    say(path, L"is too long to be examined");
    return FAILED;
  }
  std::wcscpy(held->path, path);
  _snwprintf(name, PATH_CAPACITY + 8, L"\\??\\%ls", path);
  name[PATH_CAPACITY + 7] = L'\0';
  const Result result = hold(nullptr, name, wanted, held);
  return result != OK || absent(*held) ? result : reachedByItsPath(*held);
}

Result holdChild(const Held& parent, const wchar_t* name, Wanted wanted, Held* held) noexcept {
  if (std::wcslen(parent.path) + 1 + std::wcslen(name) >= PATH_CAPACITY) {
    say(parent.path, L"holds something whose path is too long to be examined");
    return FAILED;
  }
  _snwprintf(held->path, PATH_CAPACITY, L"%ls\\%ls", parent.path, name);
  held->path[PATH_CAPACITY - 1] = L'\0';
  const Result result = hold(parent.handle, name, wanted, held);
  return result != OK || absent(*held) ? result : reachedByItsPath(*held);
}

Result examine(const Held& held, Wanted wanted, DWORD changes) noexcept {
  if (held.made) return OK;
  BY_HANDLE_FILE_INFORMATION info{};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  Result result = OK;
  if (!::GetFileInformationByHandle(held.handle, &info) ||
      (descriptor = rightsOf(held)) == nullptr) {
    say(held.path, L"cannot be examined");
    result = FAILED;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    say(held.path,
        L"is a link or junction, which the package never follows. Delete it and "
        L"install again");
    result = LINK;
  } else if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != wanted.folder) {
    say(held.path, wanted.folder
                       ? L"is a file where a folder belongs. Delete it and install again"
                       : L"is a folder where a file belongs. Delete it and install again");
    result = KIND;
  } else if (!platform::trust::ownerTrusted(descriptor, self())) {
    say(held.path,
        L"belongs to someone other than Administrators or SYSTEM, who could have "
        L"placed it for others to use. Delete it and install again");
    result = OWNER;
  } else if (!wanted.folder && info.nNumberOfLinks > 1) {
    say(held.path, L"has further names elsewhere (hard links). Delete it and install again");
    result = HARD_LINKS;
  } else if (platform::trust::othersMay(descriptor, changes, self())) {
    say(held.path,
        L"has rights that let others than Administrators and SYSTEM change, move or "
        L"delete it. Delete it and install again");
    result = CHANGEABLE;
  }
  ::LocalFree(descriptor);
  return result;
}

bool hasRights(const Held& held, const wchar_t* rights) noexcept {
  PSECURITY_DESCRIPTOR expected = nullptr;
  PSECURITY_DESCRIPTOR present = rightsOf(held);
  const bool same = present != nullptr &&
                    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(rights, SDDL_REVISION_1,
                                                                           &expected, nullptr) &&
                    platform::trust::sameRights(present, expected);
  ::LocalFree(expected);
  ::LocalFree(present);
  return same;
}

Result setRights(const Held& held, const wchar_t* rights) noexcept {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  const bool set =
      ::ConvertStringSecurityDescriptorToSecurityDescriptorW(rights, SDDL_REVISION_1, &descriptor,
                                                             nullptr) &&
      ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
      ::SetSecurityInfo(held.handle, SE_FILE_OBJECT,
                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, dacl, nullptr) == ERROR_SUCCESS;
  ::LocalFree(descriptor);
  if (!set) say(held.path, L"cannot be given its rights");
  return set ? OK : FAILED;
}

}  // namespace helper
