// The tools' OS calls on Windows: the current folder, probes of the preference file, the layout
// and folders the installer recorded, the user's own folder, and the primary display's modes.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstring>

#include "platform/tools.h"
#include "platform/trust.h"
#include "platform/windows_files.h"
#include "product_facts.h"

namespace platform {

std::uint32_t currentFolder(char* buffer, std::uint32_t capacity) noexcept {
  const DWORD length = ::GetCurrentDirectoryA(capacity, buffer);
  return length < capacity ? length : 0;
}

bool regularFileExists(const char* path) noexcept {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {

// Whether the file open in `handle` is reached by `path` itself (platform/trust.h), and has no
// other name.
bool reachedByOwnPath(void* handle, const char* path) {
  BY_HANDLE_FILE_INFORMATION info{};
  wchar_t named[MAX_PATH * 2];
  wchar_t full[MAX_PATH * 2];
  if (!::GetFileInformationByHandle(handle, &info) || info.nNumberOfLinks != 1 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      ::MultiByteToWideChar(CP_ACP, 0, path, -1, named, MAX_PATH * 2) == 0) {
    return false;
  }
  const DWORD fullLength = ::GetFullPathNameW(named, MAX_PATH * 2, full, nullptr);
  return fullLength > 0 && fullLength < MAX_PATH * 2 &&
         trust::reachedBy(handle, full) == trust::Reached::ByItsPath;
}

template <bool forWriting>
bool openFileByOwnPath(const char* path, FileHandle* file) {
  return windows::openShared(path, forWriting, file, reachedByOwnPath) ==
         windows::SharedOpen::Opened;
}

constexpr auto openReadWriteByOwnPath = openFileByOwnPath</*forWriting=*/true>;
constexpr auto openReadOnlyByOwnPath = openFileByOwnPath</*forWriting=*/false>;

}  // namespace

bool runningElevated() noexcept {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  BOOL member = FALSE;
  if (::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &administrators)) {
    if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    ::FreeSid(administrators);
  }
  return member != FALSE;
}

void openOnlyByOwnPath() noexcept {
  fileCalls().openReadWrite = openReadWriteByOwnPath;
  fileCalls().openReadOnly = openReadOnlyByOwnPath;
}

OpenProbe probeOpen(const char* path, bool forWriting) noexcept {
  // The probe opens the file as the store's file calls in use do.
  const windows::ReachCheck reach =
      fileCalls().openReadOnly == openReadOnlyByOwnPath ? reachedByOwnPath : nullptr;
  // A folder is refused as access denied, which would read as a question of rights.
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return OpenProbe::Missing;
  }
  FileHandle file = INVALID_FILE;
  switch (windows::openShared(path, forWriting, &file, reach)) {
    case windows::SharedOpen::Opened:
      ::CloseHandle(reinterpret_cast<HANDLE>(file));
      return OpenProbe::Opened;
    case windows::SharedOpen::NotRegular:
      return OpenProbe::Missing;
    case windows::SharedOpen::NotOwnPath:
      return OpenProbe::Denied;
    case windows::SharedOpen::Failed:
      break;
  }
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenProbe::Missing;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return OpenProbe::Denied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return OpenProbe::Busy;
    default:
      return OpenProbe::Failed;
  }
}

bool fileStamp(const char* path, std::int64_t* stamp) noexcept {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &info)) return false;
  *stamp = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  return true;
}

namespace {

// The string value `name` of the product's key, environment variables expanded, copied with
// its zero byte into `buffer` of `capacity` bytes; its length, 0 when there is none or it does
// not fit.
std::uint32_t productValue(const char* name, char* buffer, std::uint32_t capacity) {
  HKEY key = nullptr;
  if (capacity < 2 || ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, RESKEEPER_REGISTRY_KEY, 0,
                                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return 0;
  }
  char value[MAX_PATH * 2] = {};
  DWORD type = 0;
  DWORD size = sizeof value - 1;  // room for a zero the value may lack
  const LONG result =
      ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  ::RegCloseKey(key);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return 0;
  value[size] = '\0';
  std::uint32_t length;
  if (type == REG_EXPAND_SZ) {
    const DWORD needed = ::ExpandEnvironmentStringsA(value, buffer, capacity);
    if (needed == 0 || needed > capacity) return 0;
    length = needed - 1;
  } else {
    length = static_cast<std::uint32_t>(std::strlen(value));
    if (length + 1 > capacity) return 0;
    std::memcpy(buffer, value, length + 1);
  }
  return length;
}

}  // namespace

Layout installedLayout() noexcept {
  char value[16];
  const std::uint32_t length = productValue(RESKEEPER_LAYOUT_VALUE, value, sizeof value);
  if (length > 0) {
    if (std::strcmp(value, RESKEEPER_LAYOUT_USER) == 0) return Layout::PerUser;
    if (std::strcmp(value, RESKEEPER_LAYOUT_SHARED) == 0) return Layout::Shared;
  }
  char folder[MAX_PATH * 2];
  return productValue(RESKEEPER_DATA_FOLDER_VALUE, folder, sizeof folder) > 0
             ? Layout::Shared
             : Layout::NotInstalled;
}

std::uint32_t installedDataFolder(char* buffer, std::uint32_t capacity) noexcept {
  return productValue(RESKEEPER_DATA_FOLDER_VALUE, buffer, capacity);
}

std::uint32_t userDataFolder(char* buffer, std::uint32_t capacity) noexcept {
  static constexpr char BELOW[] = "\\" RESKEEPER_FOLDER_NAME;
  char appData[MAX_PATH * 2];
  const DWORD length = ::GetEnvironmentVariableA("APPDATA", appData, sizeof appData);
  // A drive's path, or a share's where the folder is redirected.
  const bool absolute = length >= 3 && ((appData[1] == ':' && appData[2] == '\\') ||
                                        (appData[0] == '\\' && appData[1] == '\\'));
  if (length == 0 || length >= sizeof appData || !absolute || length + sizeof BELOW > capacity) {
    return 0;
  }
  std::memcpy(buffer, appData, length);
  std::memcpy(buffer + length, BELOW, sizeof BELOW);
  return static_cast<std::uint32_t>(length + sizeof BELOW - 1);
}

const UserFolderWords& userFolderWords() noexcept {
  static constexpr UserFolderWords WORDS = {
      "%APPDATA%\\" RESKEEPER_FOLDER_NAME, "APPDATA",
      "at each logon " RESKEEPER_SESSION_PROGRAM
      " makes it and starts the keeper, and starts nothing when it cannot (APPDATA unset, or a "
      "folder this user may not write); sign out and in again"};
  return WORDS;
}

bool userNameFitsCodePage() noexcept {
  wchar_t name[256];
  const DWORD length = ::GetEnvironmentVariableW(L"USERNAME", name, 256);
  if (length == 0 || length >= 256) return true;  // unset, empty or too long: said otherwise
  BOOL lost = FALSE;
  const int bytes = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name,
                                          static_cast<int>(length), nullptr, 0, nullptr, &lost);
  return bytes > 0 && !lost;
}

namespace {

bool isConsole(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode) != 0;
}

// A line read on a thread of its own, so that the wait for it can end.
struct LineRead {
  char text[256];
  DWORD length;
  BOOL read;
};

HANDLE interruption = nullptr;

// Ctrl-C, Ctrl-Break and a closed console end the wait instead of the process. A closed console
// ends the process once this returns, whatever it answers, so that one is held back for the few
// seconds Windows grants, for the caller to act on the answer first.
BOOL WINAPI noteInterruption(DWORD event) {
  if (interruption != nullptr) ::SetEvent(interruption);
  if (event == CTRL_CLOSE_EVENT) ::Sleep(4000);
  return TRUE;
}

DWORD WINAPI readLine(void* context) {
  auto* line = static_cast<LineRead*>(context);
  line->read = ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), line->text, sizeof line->text - 1,
                          &line->length, nullptr);
  return 0;
}

}  // namespace

bool interactiveTerminal() noexcept {
  return isConsole(STD_INPUT_HANDLE) && isConsole(STD_ERROR_HANDLE);
}

bool readTerminalLine(char* buffer, std::uint32_t capacity, std::uint32_t milliseconds) noexcept {
  if (capacity == 0) return false;
  buffer[0] = '\0';
  // Left to the process when no line comes: the reader may still be blocked in its read.
  static LineRead line;
  line = LineRead{};
  if (interruption == nullptr)
    interruption = ::CreateEventA(nullptr, /*manualReset=*/TRUE, /*initialState=*/FALSE, nullptr);
  if (interruption == nullptr) return false;
  ::ResetEvent(interruption);
  const HANDLE reader = ::CreateThread(nullptr, 0, readLine, &line, 0, nullptr);
  if (reader == nullptr) return false;
  ::SetConsoleCtrlHandler(noteInterruption, /*add=*/TRUE);
  const HANDLE ends[2] = {reader, interruption};
  const bool came =
      ::WaitForMultipleObjects(2, ends, /*waitAll=*/FALSE, milliseconds) == WAIT_OBJECT_0;
  ::SetConsoleCtrlHandler(noteInterruption, /*add=*/FALSE);
  if (!came) ::CancelSynchronousIo(reader);
  ::CloseHandle(reader);
  if (!came || !line.read || line.length == 0) return false;
  DWORD length = 0;
  while (length < line.length && line.text[length] != '\r' && line.text[length] != '\n') ++length;
  if (length == line.length) return false;  // no line end: the input ended
  if (length >= capacity) length = capacity - 1;
  std::memcpy(buffer, line.text, length);
  buffer[length] = '\0';
  return true;
}

bool visitDisplayModes(ModeVisitor each, void* context) noexcept {
  DEVMODEA present{};
  present.dmSize = sizeof present;
  if (!::EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &present)) return false;
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  for (DWORD i = 0; ::EnumDisplaySettingsA(nullptr, i, &mode); ++i) {
    const DWORD hz = mode.dmDisplayFrequency > 1 ? mode.dmDisplayFrequency : 0;  // 0, 1: default
    each(context, static_cast<std::int32_t>(mode.dmPelsWidth),
         static_cast<std::int32_t>(mode.dmPelsHeight), static_cast<std::int32_t>(hz),
         mode.dmPelsWidth == present.dmPelsWidth && mode.dmPelsHeight == present.dmPelsHeight &&
             mode.dmDisplayFrequency == present.dmDisplayFrequency);
    mode = DEVMODEA{};
    mode.dmSize = sizeof mode;
  }
  return true;
}

}  // namespace platform
