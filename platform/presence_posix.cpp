// One keeper per user and X display on POSIX systems: an open-file-description write lock on a
// file in a folder of the user's alone (see platform.h for where).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace platform {
namespace {

constexpr std::size_t PATH_CAPACITY = 4096;
constexpr char LOCK_PREFIX[] = "/reskeeper-keeper";
constexpr char LOCK_SUFFIX[] = ".lock";

// A folder of this user's that no one else may enter, list or write.
bool privateFolder(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// The folder the lock file lies in, into `folder`; false when there is none to be had. The
// /tmp folder is made only when `make`.
bool lockFolder(char* folder, bool make) {
  struct stat info {};
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && std::strlen(runtime) < PATH_CAPACITY &&
      ::stat(runtime, &info) == 0 && privateFolder(info)) {
    std::strcpy(folder, runtime);
    return true;
  }
  std::snprintf(folder, PATH_CAPACITY, "/tmp/reskeeper-%lu",
                static_cast<unsigned long>(::geteuid()));
  if (make && ::mkdir(folder, 0700) != 0 && errno != EEXIST) return false;
  return ::lstat(folder, &info) == 0 && privateFolder(info);
}

// The lock file's path for this user and $DISPLAY, into `path`.
bool lockPath(char* path, bool make) {
  if (!lockFolder(path, make)) return false;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr) display = "";
  std::size_t length = std::strlen(display);
  // ":0.0" and ":0" are one display: the screen number after the last colon is dropped.
  if (const char* colon = std::strrchr(display, ':')) {
    const char* dot = std::strchr(colon, '.');
    if (dot != nullptr) length = static_cast<std::size_t>(dot - display);
  }
  std::size_t at = std::strlen(path);
  if (at + sizeof LOCK_PREFIX + length + sizeof LOCK_SUFFIX > PATH_CAPACITY) return false;
  std::memcpy(path + at, LOCK_PREFIX, sizeof LOCK_PREFIX - 1);
  at += sizeof LOCK_PREFIX - 1;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = display[i];
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == ':' || c == '_' || c == '-';
    path[at++] = plain ? c : '_';
  }
  std::memcpy(path + at, LOCK_SUFFIX, sizeof LOCK_SUFFIX);
  return true;
}

// Opens the lock file, never through a link; only a regular file of this user's is kept.
int openLockFile(const char* path, int access) {
  const int fd = ::open(path, access | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    ::close(fd);
    return -1;
  }
  return fd;
}

struct flock wholeFileWriteLock() {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  lock.l_pid = 0;  // open-file-description locks want it zero
  return lock;
}

}  // namespace

// The descriptor stays open, and the lock held, until the process ends.
void becomeSessionKeeper() noexcept {
  char path[PATH_CAPACITY];
  if (!lockPath(path, /*make=*/true)) return;
  const int fd = openLockFile(path, O_RDWR | O_CREAT);
  if (fd < 0) return;
  struct flock lock = wholeFileWriteLock();
  int result;
  do {
    result = ::fcntl(fd, F_OFD_SETLKW, &lock);
  } while (result != 0 && errno == EINTR);
  if (result != 0) ::close(fd);
}

// An X11 program shows no busy pointer for its start.
void becomeReadyForInput() noexcept {}

bool keeperRunning() noexcept {
  char path[PATH_CAPACITY];
  if (!lockPath(path, /*make=*/false)) return false;
  const int fd = openLockFile(path, O_RDONLY);
  if (fd < 0) return false;
  struct flock lock = wholeFileWriteLock();
  const bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

}  // namespace platform
