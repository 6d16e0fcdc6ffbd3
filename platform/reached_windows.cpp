// Whether a folder or file open in a handle was reached by the very path that named it (see
// trust.h).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cwchar>

#include "platform/trust.h"

namespace platform::trust {

Reached reachedBy(void* handle, const wchar_t* path) noexcept {
  constexpr DWORD CAPACITY = 1024;
  wchar_t final[CAPACITY + 8];
  wchar_t longer[CAPACITY];
  const DWORD length =
      ::GetFinalPathNameByHandleW(handle, final, CAPACITY + 8, FILE_NAME_NORMALIZED);
  if (length <= 4 || length >= CAPACITY + 8 || std::wcsncmp(final, L"\\\\?\\", 4) != 0) {
    return Reached::Unknown;
  }
  // \\?\C:\... for a drive, \\?\UNC\server\share\... for a share.
  const wchar_t* finalPath = final + 4;
  if (::CompareStringOrdinal(final, 8, L"\\\\?\\UNC\\", 8, /*ignoreCase=*/TRUE) == CSTR_EQUAL) {
    finalPath = final + 6;
    final[6] = L'\\';
  }
  if (::CompareStringOrdinal(finalPath, -1, path, -1, /*ignoreCase=*/TRUE) == CSTR_EQUAL) {
    return Reached::ByItsPath;
  }
  const DWORD longLength = ::GetLongPathNameW(path, longer, CAPACITY);
  return longLength > 0 && longLength < CAPACITY &&
                 ::CompareStringOrdinal(finalPath, -1, longer, -1, /*ignoreCase=*/TRUE) ==
                     CSTR_EQUAL
             ? Reached::ByItsPath
             : Reached::ByAnother;
}

}  // namespace platform::trust
