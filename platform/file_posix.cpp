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
posix::LockedOpen posix::openLocked(const char* path, bool forWriting, int* fd,
                                    Opener opener) noexcept {
  // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are accepted anyway.
  const int flags = (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  const int opened = opener == nullptr ? ::open(path, flags) : opener(path, flags);
  if (opened < 0 && errno == ELOOP && opener != nullptr) return LockedOpen::NotOwnPath;
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
  if (posix::openLocked(path, /*forWriting=*/true, &fd) != posix::LockedOpen::Opened) return false;
  *file = fd;
  return true;
}

bool openReadOnly(const char* path, FileHandle* file) {
  int fd = -1;
  if (posix::openLocked(path, /*forWriting=*/false, &fd) != posix::LockedOpen::Opened) return false;
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
