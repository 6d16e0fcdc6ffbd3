// The session starter's Windows calls: the user's own working folder under %APPDATA%, its
// preference file, the package's shared folder and whether it can be relied on, and starting
// the keeper beside this program once.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// The system's other headers need windows.h first.
#include <aclapi.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "platform/platform.h"
#include "platform/session.h"
#include "platform/trust.h"
#include "product_facts.h"

namespace platform {
namespace {

constexpr std::uint32_t CAPACITY = SESSION_PATH_CAPACITY;

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

HANDLE openItself(const wchar_t* path) noexcept {
  return ::CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

// One step on the way to a file that is relied on, at `path`, which must be its final path: a
// real folder or file (no link; a file with no other name) that no other user could have placed
// or changed (platform/trust.h), beyond `fileChanges` for a file.
bool safeStep(const wchar_t* path, bool folder, std::uint32_t fileChanges,
              const void* self) noexcept {
  const HANDLE handle = openItself(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  const bool safe =
      ::GetFileInformationByHandle(handle, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
      ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder &&
      (folder || info.nNumberOfLinks == 1) &&
      trust::reachedBy(handle, path) == trust::Reached::ByItsPath &&
      ::GetSecurityInfo(handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) == ERROR_SUCCESS &&
      !trust::othersCouldChange(descriptor, folder ? trust::FOLDER_CHANGES : fileChanges, self);
  ::LocalFree(descriptor);
  ::CloseHandle(handle);
  return safe;
}

// The session's starters take turns through this mutex, in the session's own namespace.
constexpr wchar_t STARTER_MUTEX[] = L"Local\\reskeeper-starter";
// How long a starter waits for its turn, and for the keeper it started to take its place.
constexpr DWORD TURN_WAIT_MS = 30000;
constexpr DWORD KEEPER_WAIT_MS = 10000;
constexpr DWORD KEEPER_LOOK_MS = 50;

// Starts the program `name` that lies beside this one, working in `folder`.
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
  if (!::CreateProcessW(program, line, nullptr, nullptr, /*inheritHandles=*/FALSE, 0, nullptr,
                        folder.path, &startup, &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
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

bool programDataFolder(const char* name, SessionFolder* folder) noexcept {
  wchar_t* base = nullptr;
  const bool found = SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &base));
  const HANDLE programData = found ? openItself(base) : INVALID_HANDLE_VALUE;
  ::CoTaskMemFree(base);
  if (programData == INVALID_HANDLE_VALUE) return false;
  wchar_t final[CAPACITY + 8];
  const DWORD length = ::GetFinalPathNameByHandleW(programData, final, CAPACITY + 8, 0);
  ::CloseHandle(programData);
  if (length <= 4 || length >= CAPACITY || std::wcsncmp(final, L"\\\\?\\", 4) != 0) return false;
  std::wcscpy(folder->path, final + 4);
  return appendSeparated(folder->path, name);
}

bool installedSharedFolder(SessionFolder* folder) noexcept {
  DWORD size = sizeof folder->path;
  return ::RegGetValueW(HKEY_LOCAL_MACHINE, RESKEEPER_REGISTRY_KEY_W, RESKEEPER_DATA_FOLDER_VALUE_W,
                        RRF_RT_REG_SZ, nullptr, folder->path, &size) == ERROR_SUCCESS &&
         folder->path[0] != L'\0';
}

// Each step is opened itself and examined; the path then opened by name later is safe because
// no one else may change a folder on it.
bool trustedFile(const SessionFolder& folder, const char* relative, OthersMay others) noexcept {
  trust::Account account;
  const void* self = trust::processAccount(&account) ? account.sid : nullptr;
  const std::uint32_t fileChanges =
      trust::FILE_CHANGES | (others == OthersMay::Read ? trust::WRITE_BYTES : 0);
  wchar_t path[CAPACITY];
  std::wcscpy(path, folder.path);
  if (!safeStep(path, /*folder=*/true, fileChanges, self)) return false;
  char part[MAX_PATH];
  for (const char* start = relative; start != nullptr;) {
    const char* end = std::strchr(start, '/');
    const std::size_t length = end ? static_cast<std::size_t>(end - start) : std::strlen(start);
    if (length == 0 || length >= sizeof part) return false;
    std::memcpy(part, start, length);
    part[length] = '\0';
    if (!appendSeparated(path, part) || !safeStep(path, end != nullptr, fileChanges, self)) {
      return false;
    }
    start = end ? end + 1 : nullptr;
  }
  return true;
}

bool startKeeperOnce(const char* name, const SessionFolder& folder) noexcept {
  const HANDLE turn = ::CreateMutexW(nullptr, /*initialOwner=*/FALSE, STARTER_MUTEX);
  const DWORD waited = turn ? ::WaitForSingleObject(turn, TURN_WAIT_MS) : WAIT_FAILED;
  bool started = true;
  if (!keeperRunning()) {
    started = startBeside(name, folder);
    for (DWORD waitedMs = 0; started && !keeperRunning() && waitedMs < KEEPER_WAIT_MS;
         waitedMs += KEEPER_LOOK_MS) {
      ::Sleep(KEEPER_LOOK_MS);
    }
  }
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ::ReleaseMutex(turn);
  if (turn != nullptr) ::CloseHandle(turn);
  return started;
}

}  // namespace platform
