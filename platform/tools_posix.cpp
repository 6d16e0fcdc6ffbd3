// The tools' OS calls on POSIX systems: working folder and probes of the preference file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/tools.h"

namespace platform {

bool changeFolder(const char* path) noexcept {
  return ::chdir(path) == 0;
}

std::uint32_t currentFolder(char* buffer, std::uint32_t capacity) noexcept {
  if (capacity == 0 || ::getcwd(buffer, capacity) == nullptr) return 0;
  return static_cast<std::uint32_t>(std::strlen(buffer));
}

bool regularFileExists(const char* path) noexcept {
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// Opens as the store does (see file_posix.cpp): the same kind of lock, so that a probe meets
// the keeper exactly as the store's own opening would.
OpenProbe probeOpen(const char* path, bool forWriting) noexcept {
  const int fd = ::open(path, (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == EISDIR) return OpenProbe::Missing;
    if (errno == EACCES || errno == EPERM || errno == EROFS) return OpenProbe::Denied;
    return OpenProbe::Failed;
  }
  struct stat info {};
  OpenProbe result = OpenProbe::Opened;
  struct flock lock {};
  lock.l_type = forWriting ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    result = OpenProbe::Missing;
  } else if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    result = errno == EAGAIN || errno == EACCES ? OpenProbe::Busy : OpenProbe::Failed;
  }
  ::close(fd);
  return result;
}

bool fileStamp(const char* path, std::int64_t* stamp) noexcept {
  struct stat info {};
  if (::stat(path, &info) != 0) return false;
  *stamp = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return true;
}

std::uint32_t installedDataFolder(char* /*buffer*/, std::uint32_t /*capacity*/) noexcept {
  return 0;
}

std::uint32_t userDataFolder(char* buffer, std::uint32_t capacity) noexcept {
  static constexpr char BELOW_HOME[] = "/.local/share/reskeeper";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return 0;
  const std::size_t length = std::strlen(home);
  if (length + sizeof BELOW_HOME > capacity) return 0;
  std::memcpy(buffer, home, length);
  std::memcpy(buffer + length, BELOW_HOME, sizeof BELOW_HOME);
  return static_cast<std::uint32_t>(length + sizeof BELOW_HOME - 1);
}

}  // namespace platform
