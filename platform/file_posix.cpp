// POSIX file calls. A read-write open takes an open-file-description write lock and a
// read-only open a read lock (see posix_files.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_testing.h"
#include "platform/posix_files.h"

namespace platform {
namespace {

// Opens `path` with `flags` one name at a time, relative to the folder opened before, never
// following a symbolic link; -1 with errno ELOOP where a name on the way, or the file, is one.
int openByOwnPath(const char* path, int flags) noexcept {
  int folder = ::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  char name[NAME_MAX + 1];
  for (const char* start = path; folder >= 0;) {
    while (*start == '/') ++start;
    const char* end = start;
    while (*end != '\0' && *end != '/') ++end;
    const std::size_t length = static_cast<std::size_t>(end - start);
    const char* rest = end;
    while (*rest == '/') ++rest;
    if (length == 0 || length > NAME_MAX) {
      ::close(folder);
      errno = length == 0 ? ENOENT : ENAMETOOLONG;
      return -1;
    }
    std::memcpy(name, start, length);
    name[length] = '\0';
    const bool last = *rest == '\0';
    const int next = ::openat(
        folder, name, last ? flags | O_NOFOLLOW : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    struct stat info {};
    const bool link = next < 0 && ::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISLNK(info.st_mode);
    ::close(folder);
    errno = link ? ELOOP : error;
    if (last || next < 0) return next;
    folder = next;
    start = rest;
  }
  return -1;
}

}  // namespace

posix::LockedOpen posix::openLocked(const char* path, bool forWriting, int* fd,
                                    Reach reach) noexcept {
  // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are accepted anyway.
  const int flags = (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  const int opened = reach == Reach::Any ? ::open(path, flags) : openByOwnPath(path, flags);
  if (opened < 0 && errno == ELOOP && reach == Reach::OwnPath) return LockedOpen::NotOwnPath;
  // A file that another process holds a lease on refuses a non-blocking open until the lease is
  // given up: it is held, as a locked one is.
  if (opened < 0) return errno == EWOULDBLOCK ? LockedOpen::Locked : LockedOpen::OpenFailed;
  struct stat info {};
  struct flock lock {};
  lock.l_type = forWriting ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however long it grows
  LockedOpen result = LockedOpen::Opened;
  if (::fstat(opened, &info) != 0) {
    result = LockedOpen::Failed;
  } else if (!S_ISREG(info.st_mode)) {
    result = LockedOpen::NotRegular;
  } else if (reach == Reach::OwnPath && info.st_nlink != 1) {
    result = LockedOpen::NotOwnPath;
  } else if (::fcntl(opened, F_SETFL, ::fcntl(opened, F_GETFL) & ~O_NONBLOCK) != 0) {
    result = LockedOpen::Failed;
  } else if (::fcntl(opened, F_OFD_SETLK, &lock) != 0) {
    result = errno == EAGAIN || errno == EACCES ? LockedOpen::Locked : LockedOpen::Failed;
  }
  if (result != LockedOpen::Opened) {
    const int error = errno;
    ::close(opened);
    errno = error;
    return result;
  }
  *fd = opened;
  return result;
}

namespace {

bool openReadWrite(const char* path, FileHandle* file) {
  int fd = -1;
  if (posix::openLocked(path, true, &fd) != posix::LockedOpen::Opened) return false;
  *file = fd;
  return true;
}

bool openReadOnly(const char* path, FileHandle* file) {
  int fd = -1;
  if (posix::openLocked(path, false, &fd) != posix::LockedOpen::Opened) return false;
  *file = fd;
  return true;
}

bool size(FileHandle file, std::int64_t* bytes) {
  struct stat info {};
  if (::fstat(static_cast<int>(file), &info) != 0) return false;
  *bytes = info.st_size;
  return true;
}

bool read(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* got) {
  ssize_t n;
  do {
    n = ::read(static_cast<int>(file), buffer, count);
  } while (n < 0 && errno == EINTR);
  *got = n > 0 ? static_cast<std::uint32_t>(n) : 0;
  return n >= 0;
}

bool seek(FileHandle file, std::int64_t offset) {
  return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) == offset;
}

bool reserve(FileHandle file, std::int64_t length) {
  return ::posix_fallocate(static_cast<int>(file), 0, static_cast<off_t>(length)) == 0;
}

// Loops over partial writes, as WriteFile does for a file, until all is written or an error.
bool write(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t* written) {
  const char* bytes = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(static_cast<int>(file), bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::uint32_t>(n);
  }
  *written = done;
  return done == count;
}

bool setEnd(FileHandle file) {
  const off_t position = ::lseek(static_cast<int>(file), 0, SEEK_CUR);
  return position >= 0 && ::ftruncate(static_cast<int>(file), position) == 0;
}

void close(FileHandle file) {
  ::close(static_cast<int>(file));
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
