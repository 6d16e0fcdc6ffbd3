// Windows file calls. Both opens share the file for reading only (see windows_files.h).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "platform/windows_files.h"

namespace platform {

// Keeps the handle only when it is a regular file on disk: not a directory, console, pipe or
// other device.
windows::SharedOpen windows::openShared(const char* path, bool forWriting, FileHandle* file,
                                        ReachCheck reached) noexcept {
  // Writing asks for FILE_WRITE_DATA alone: the rewrite in place moves to the start, writes and
  // cuts the file there (SetEndOfFile needs FILE_WRITE_DATA), and nothing more is asked for (no
  // FILE_APPEND_DATA, FILE_WRITE_ATTRIBUTES or FILE_WRITE_EA, which GENERIC_WRITE would bring),
  // so that users need no right on a shared file beyond reading it and writing its bytes.
  const DWORD access = forWriting ? GENERIC_READ | FILE_WRITE_DATA : GENERIC_READ;
  // Where the way it is reached is checked, the file is opened itself, never what a link points
  // to.
  const DWORD flags =
      FILE_ATTRIBUTE_NORMAL | (reached != nullptr ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  const HANDLE handle =
      ::CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return SharedOpen::Failed;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool regular = ::GetFileType(handle) == FILE_TYPE_DISK &&
                       ::GetFileInformationByHandle(handle, &info) &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (!regular) {
    ::CloseHandle(handle);
    return SharedOpen::NotRegular;
  }
  if (reached != nullptr && !reached(handle, path)) {
    ::CloseHandle(handle);
    return SharedOpen::NotOwnPath;
  }
  *file = reinterpret_cast<FileHandle>(handle);
  return SharedOpen::Opened;
}

namespace {

HANDLE handleOf(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

bool openReadWrite(const char* path, FileHandle* file) {
  return windows::openShared(path, /*forWriting=*/true, file) == windows::SharedOpen::Opened;
}

bool openReadOnly(const char* path, FileHandle* file) {
  return windows::openShared(path, /*forWriting=*/false, file) == windows::SharedOpen::Opened;
}

bool size(FileHandle file, std::int64_t* bytes) {
  DWORD high = 0;
  // A size whose low word is all ones is valid; only the error code tells a failure apart.
  ::SetLastError(NO_ERROR);
  const DWORD low = ::GetFileSize(handleOf(file), &high);
  if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
  if (high > 0x7FFFFFFFu) return false;
  *bytes = static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
  return true;
}

bool read(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* got) {
  DWORD done = 0;
  const bool ok = ::ReadFile(handleOf(file), buffer, count, &done, nullptr) != 0;
  *got = done;
  return ok;
}

// Moves to `offset` from the start. As with GetFileSize, a new position whose low word is all
// ones is valid, so only the error code tells a failure apart.
bool moveTo(HANDLE handle, std::int64_t offset) {
  if (offset < 0) return false;
  LONG high = static_cast<LONG>(static_cast<std::uint64_t>(offset) >> 32);
  const LONG low = static_cast<LONG>(static_cast<DWORD>(offset & 0xFFFFFFFF));
  ::SetLastError(NO_ERROR);
  const DWORD result = ::SetFilePointer(handle, low, &high, FILE_BEGIN);
  return !(result == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR);
}

bool seek(FileHandle file, std::int64_t offset) {
  return moveTo(handleOf(file), offset);
}

// Extends the file (which allocates its space) when it is shorter than `length`. A longer
// file is left alone: shortening it here would lose its tail if the write that follows failed.
bool reserve(FileHandle file, std::int64_t length) {
  std::int64_t present = 0;
  if (!size(file, &present)) return false;
  if (present >= length) return true;
  return moveTo(handleOf(file), length) && ::SetEndOfFile(handleOf(file)) != 0;
}

bool write(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t* written) {
  DWORD done = 0;
  const bool ok = ::WriteFile(handleOf(file), buffer, count, &done, nullptr) != 0;
  *written = done;
  return ok && done == count;
}

bool setEnd(FileHandle file) {
  return ::SetEndOfFile(handleOf(file)) != 0;
}

void close(FileHandle file) {
  ::CloseHandle(handleOf(file));
}

constexpr FileCalls REAL_CALLS = {
    .openReadWrite = openReadWrite,
    .openReadOnly = openReadOnly,
    .size = size,
    .read = read,
    .seek = seek,
    .reserve = reserve,
    .write = write,
    .setEnd = setEnd,
    .close = close,
};
FileCalls calls = REAL_CALLS;

}  // namespace

FileCalls& fileCalls() noexcept {
  return calls;
}
const FileCalls& defaultFileCalls() noexcept {
  return REAL_CALLS;
}

}  // namespace platform
