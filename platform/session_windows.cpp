// The session starter's Windows calls: the user's own working folder under %APPDATA%, its
// preference file, the installers' shared file under %ProgramData% and whether it can be
// trusted, and starting the keeper beside this program.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// The system's other headers need windows.h first.
#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "platform/session.h"

namespace platform {
namespace {

constexpr std::uint32_t CAPACITY = SESSION_PATH_CAPACITY;

// What no one but the trusted accounts may do to a folder on the way to the shared file: add
// to it, remove or rename what it holds (or it), or change its rights or owner.
constexpr DWORD FOLDER_CHANGES = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                 DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | GENERIC_WRITE;

// Appends `text` (ASCII, or the ANSI code page) to `path`, '/' written as '\'; false when the
// result does not fit.
bool append(wchar_t* path, const char* text) noexcept {
  const std::size_t length = std::wcslen(path);
  wchar_t* end = path + length;
  const int room = static_cast<int>(CAPACITY - length);
  const int added = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, end, room);
  if (added <= 0) return false;
  for (wchar_t* c = end; *c; ++c) {
    if (*c == L'/') *c = L'\\';
  }
  return true;
}

bool appendSeparated(wchar_t* path, const char* text) noexcept {
  const std::size_t length = std::wcslen(path);
  if (length + 1 >= CAPACITY) return false;
  path[length] = L'\\';
  path[length + 1] = L'\0';
  return append(path, text);
}

// `wide` in the ANSI code page, exactly: no character replaced by another.
std::uint32_t narrowExactly(const wchar_t* wide, char* buffer, std::uint32_t capacity) noexcept {
  const int size = static_cast<int>(capacity);
  int made = 0;
  if (::GetACP() == CP_UTF8) {
    made = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, size, nullptr, nullptr);
  } else {
    BOOL replaced = FALSE;
    made = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, buffer, size, nullptr,
                                 &replaced);
    if (replaced) made = 0;
  }
  return made > 0 ? static_cast<std::uint32_t>(made - 1) : 0;
}

std::uint32_t narrowPath(const wchar_t* path, char* buffer, std::uint32_t capacity) noexcept {
  const std::uint32_t length = narrowExactly(path, buffer, capacity);
  if (length > 0) return length;
  wchar_t shortPath[CAPACITY];
  const DWORD shortLength = ::GetShortPathNameW(path, shortPath, CAPACITY);
  if (shortLength == 0 || shortLength >= CAPACITY) return 0;
  return narrowExactly(shortPath, buffer, capacity);
}

bool isFolder(const wchar_t* path) noexcept {
  const DWORD attributes = ::GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool makeFolder(const wchar_t* path) noexcept {
  return ::CreateDirectoryW(path, nullptr) != 0 ||
         (::GetLastError() == ERROR_ALREADY_EXISTS && isFolder(path));
}

// Whether `path` is the final path the object open in `handle` is reached by: no link or
// junction on the way (or one that the system followed regardless).
bool finalPathIs(HANDLE handle, const wchar_t* path) noexcept {
  wchar_t final[CAPACITY + 8];
  const DWORD length =
      ::GetFinalPathNameByHandleW(handle, final, CAPACITY + 8, FILE_NAME_NORMALIZED);
  return length > 4 && length < CAPACITY + 8 && std::wcsncmp(final, L"\\\\?\\", 4) == 0 &&
         ::CompareStringOrdinal(final + 4, -1, path, -1, TRUE) == CSTR_EQUAL;
}

HANDLE openItself(const wchar_t* path) noexcept {
  return ::CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

// SYSTEM, Administrators, or the user this program runs as: a file of this user's own can
// choose nothing for another user.
class Owners {
 public:
  Owners() noexcept {
    ::ConvertStringSidToSidW(L"S-1-5-18", &system_);
    ::ConvertStringSidToSidW(L"S-1-5-32-544", &administrators_);
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
      DWORD size = 0;
      ::GetTokenInformation(token, TokenUser, user_, sizeof user_, &size);
      ::CloseHandle(token);
    }
  }
  ~Owners() {
    ::LocalFree(system_);
    ::LocalFree(administrators_);
  }
  Owners(const Owners&) = delete;
  Owners& operator=(const Owners&) = delete;

  bool trusted(PSID sid) const noexcept {
    const PSID self = reinterpret_cast<const TOKEN_USER*>(user_)->User.Sid;
    return sid != nullptr && ::IsValidSid(sid) &&
           ((system_ && ::EqualSid(sid, system_)) ||
            (administrators_ && ::EqualSid(sid, administrators_)) ||
            (self && ::IsValidSid(self) && ::EqualSid(sid, self)));
  }

 private:
  PSID system_ = nullptr;
  PSID administrators_ = nullptr;
  alignas(TOKEN_USER) BYTE user_[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)] = {};
};

// Whether the object open in `handle` belongs to a trusted owner and, a folder, lets no one
// else change what it holds.
bool ownedSafely(HANDLE handle, bool folder, const Owners& owners) noexcept {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool safe = ::GetSecurityInfo(handle, SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS &&
              owners.trusted(owner) && (!folder || dacl != nullptr);
  for (DWORD i = 0; safe && folder && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace))) {
      safe = false;
    } else if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
               (ace->Header.AceFlags & INHERIT_ONLY_ACE) == 0 && (ace->Mask & FOLDER_CHANGES)) {
      safe = owners.trusted(reinterpret_cast<PSID>(&ace->SidStart));
    }
  }
  ::LocalFree(descriptor);
  return safe;
}

// One step on the way to the shared file, at `path`, whose final path must be `final`.
bool safeStep(const wchar_t* path, const wchar_t* final, bool folder,
              const Owners& owners) noexcept {
  const HANDLE handle = openItself(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool safe = ::GetFileInformationByHandle(handle, &info) &&
                    (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                    ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder &&
                    (folder || info.nNumberOfLinks == 1) && finalPathIs(handle, final) &&
                    ownedSafely(handle, folder, owners);
  ::CloseHandle(handle);
  return safe;
}

}  // namespace

bool userWorkingFolder(const char* name, SessionFolder* folder) noexcept {
  wchar_t* path = folder->path;
  const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", path, CAPACITY);
  if (length < 3 || length >= CAPACITY) return false;
  const bool drive = path[1] == L':' && path[2] == L'\\';
  const bool share = path[0] == L'\\' && path[1] == L'\\';
  if (!drive && !share) return false;
  if (path[length - 1] == L'\\') path[length - 1] = L'\0';
  return appendSeparated(path, name);
}

MadeFile makeFileIfMissing(const SessionFolder& folder, const char* relative) noexcept {
  wchar_t path[CAPACITY];
  std::wcscpy(path, folder.path);
  if (!makeFolder(path)) return MadeFile::Failed;
  // Every part of `relative` but the last is a folder.
  char part[MAX_PATH];
  for (const char* start = relative;;) {
    const char* end = std::strchr(start, '/');
    const std::size_t length = end ? static_cast<std::size_t>(end - start) : std::strlen(start);
    if (length == 0 || length >= sizeof part) return MadeFile::Failed;
    std::memcpy(part, start, length);
    part[length] = '\0';
    if (!appendSeparated(path, part)) return MadeFile::Failed;
    if (end == nullptr) break;
    if (!makeFolder(path)) return MadeFile::Failed;
    start = end + 1;
  }
  const HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    ::CloseHandle(file);
    return MadeFile::Created;
  }
  const DWORD error = ::GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return MadeFile::Failed;
  const DWORD attributes = ::GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0
             ? MadeFile::Existed
             : MadeFile::Failed;
}

std::uint32_t ansiPath(const SessionFolder& folder, const char* relative, char* buffer,
                       std::uint32_t capacity) noexcept {
  wchar_t path[CAPACITY];
  std::wcscpy(path, folder.path);
  if (!appendSeparated(path, relative)) return 0;
  return narrowPath(path, buffer, capacity);
}

// Each step is opened itself and examined; the path then opened by name later is safe because
// no one else may change a folder on it.
std::uint32_t installersSharedFile(const char* name, const char* relative, char* buffer,
                                   std::uint32_t capacity) noexcept {
  wchar_t* base = nullptr;
  wchar_t path[CAPACITY] = L"";
  wchar_t final[CAPACITY] = L"";
  const bool found = SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &base)) &&
                     std::wcslen(base) < CAPACITY;
  if (found) std::wcscpy(path, base);
  ::CoTaskMemFree(base);
  if (!found) return 0;
  // %ProgramData% itself may have been moved elsewhere by its administrator: what lies below it
  // is compared with its final path.
  const HANDLE programData = openItself(path);
  if (programData == INVALID_HANDLE_VALUE) return 0;
  wchar_t programDataFinal[CAPACITY + 8];
  const DWORD length = ::GetFinalPathNameByHandleW(programData, programDataFinal, CAPACITY + 8, 0);
  ::CloseHandle(programData);
  if (length <= 4 || length >= CAPACITY || std::wcsncmp(programDataFinal, L"\\\\?\\", 4) != 0)
    return 0;
  std::wcscpy(final, programDataFinal + 4);

  const Owners owners;
  char part[MAX_PATH];
  for (const char *start = name, *rest = relative; start != nullptr;) {
    const char* end = std::strchr(start, '/');
    const std::size_t partLength = end ? static_cast<std::size_t>(end - start) : std::strlen(start);
    if (partLength == 0 || partLength >= sizeof part) return 0;
    std::memcpy(part, start, partLength);
    part[partLength] = '\0';
    if (!appendSeparated(path, part) || !appendSeparated(final, part)) return 0;
    if (end != nullptr) {
      start = end + 1;
    } else {
      start = rest;
      rest = nullptr;
    }
    if (!safeStep(path, final, start != nullptr, owners)) return 0;
  }
  return narrowPath(path, buffer, capacity);
}

bool startBeside(const char* name, const SessionFolder& folder) noexcept {
  wchar_t program[CAPACITY];
  const DWORD length = ::GetModuleFileNameW(nullptr, program, CAPACITY);
  wchar_t* slash = length > 0 && length < CAPACITY ? std::wcsrchr(program, L'\\') : nullptr;
  if (slash == nullptr) return false;
  slash[0] = L'\0';
  if (!appendSeparated(program, name)) return false;
  wchar_t line[CAPACITY + 3] = L"\"";
  std::wcscat(line, program);
  std::wcscat(line, L"\"");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_FORCEOFFFEEDBACK;  // the keeper opens no window: no busy pointer
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program, line, nullptr, nullptr, FALSE, 0, nullptr, folder.path, &startup,
                        &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

}  // namespace platform
