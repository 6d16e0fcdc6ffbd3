// The tools' OS calls on Windows: working folder, probes of the preference file, the folder the
// installer recorded, and the primary display's modes.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstring>

#include "platform/file_access_windows.h"
#include "platform/tools.h"

namespace platform {

bool changeFolder(const char* path) noexcept {
  return ::SetCurrentDirectoryA(path) != 0;
}

std::uint32_t currentFolder(char* buffer, std::uint32_t capacity) noexcept {
  const DWORD length = ::GetCurrentDirectoryA(capacity, buffer);
  return length < capacity ? length : 0;
}

bool regularFileExists(const char* path) noexcept {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Opens with the store's share mode (see file_windows.cpp), so that a probe meets the keeper
// exactly as the store's own opening would.
OpenProbe probeOpen(const char* path, bool forWriting) noexcept {
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return OpenProbe::Missing;
  }
  const DWORD access = forWriting ? PREFERENCE_WRITE_ACCESS : GENERIC_READ;
  const HANDLE handle = ::CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return OpenProbe::Opened;
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

std::uint32_t installedDataFolder(char* buffer, std::uint32_t capacity) noexcept {
  HKEY key = nullptr;
  if (capacity < 2 || ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\reskeeper", 0,
                                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return 0;
  }
  char value[MAX_PATH * 2] = {};
  DWORD type = 0;
  DWORD size = sizeof value - 1;  // room for a zero the value may lack
  const LONG result =
      ::RegQueryValueExA(key, "DataFolder", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
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

std::uint32_t userDataFolder(char* /*buffer*/, std::uint32_t /*capacity*/) noexcept {
  return 0;
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
