// The tools' OS calls on POSIX systems: the current folder, probes of the preference file, and
// the user's own folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix_files.h"
#include "platform/tools.h"

namespace platform {

std::uint32_t currentFolder(char* buffer, std::uint32_t capacity) noexcept {
  if (capacity == 0 || ::getcwd(buffer, capacity) == nullptr) return 0;
  return static_cast<std::uint32_t>(std::strlen(buffer));
}

bool regularFileExists(const char* path) noexcept {
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

OpenProbe probeOpen(const char* path, bool forWriting) noexcept {
  int fd = -1;
  switch (posix::openLocked(path, forWriting, &fd)) {
    case posix::LockedOpen::Opened:
      ::close(fd);
      return OpenProbe::Opened;
    case posix::LockedOpen::NotRegular:
      return OpenProbe::Missing;
    case posix::LockedOpen::Locked:
      return OpenProbe::Busy;
    case posix::LockedOpen::OpenFailed:
      if (errno == ENOENT || errno == ENOTDIR || errno == EISDIR) return OpenProbe::Missing;
      if (errno == EACCES || errno == EPERM || errno == EROFS) return OpenProbe::Denied;
      break;
    case posix::LockedOpen::Failed:
      break;
  }
  return OpenProbe::Failed;
}

bool fileStamp(const char* path, std::int64_t* stamp) noexcept {
  struct stat info {};
  if (::stat(path, &info) != 0) return false;
  *stamp = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return true;
}

bool userNameFitsCodePage() noexcept {
  return true;
}

Layout installedLayout() noexcept {
  return Layout::PerUser;
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
