// The tools' OS calls on POSIX systems: the current folder, probes of the preference file, and
// the user's own folder.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix_files.h"
#include "platform/tools.h"
#include "product_facts.h"

namespace platform {

std::uint32_t currentFolder(char* buffer, std::uint32_t capacity) noexcept {
  if (capacity == 0 || ::getcwd(buffer, capacity) == nullptr) return 0;
  return static_cast<std::uint32_t>(std::strlen(buffer));
}

bool regularFileExists(const char* path) noexcept {
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

namespace {

// Opens `path` with `flags` one name at a time, relative to the folder opened before, never
// following a symbolic link; -1 with errno ELOOP where a name on the way, or the file, is one,
// or where the file has another name.
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
    if (last && next >= 0 && (::fstat(next, &info) != 0 || info.st_nlink != 1)) {
      ::close(next);
      errno = ELOOP;
      return -1;
    }
    if (last || next < 0) return next;
    folder = next;
    start = rest;
  }
  return -1;
}

template <bool forWriting>
bool openFileByOwnPath(const char* path, FileHandle* file) {
  int fd = -1;
  if (posix::openLocked(path, forWriting, &fd, openByOwnPath) != posix::LockedOpen::Opened) {
    return false;
  }
  *file = fd;
  return true;
}

constexpr auto openReadWriteByOwnPath = openFileByOwnPath</*forWriting=*/true>;
constexpr auto openReadOnlyByOwnPath = openFileByOwnPath</*forWriting=*/false>;

}  // namespace

bool runningElevated() noexcept {
  return ::geteuid() == 0;
}

void openOnlyByOwnPath() noexcept {
  fileCalls().openReadWrite = openReadWriteByOwnPath;
  fileCalls().openReadOnly = openReadOnlyByOwnPath;
}

OpenProbe probeOpen(const char* path, bool forWriting) noexcept {
  // The probe opens the file as the store's file calls in use do.
  const posix::Opener reach =
      fileCalls().openReadOnly == openReadOnlyByOwnPath ? openByOwnPath : nullptr;
  int fd = -1;
  switch (posix::openLocked(path, forWriting, &fd, reach)) {
    case posix::LockedOpen::Opened:
      ::close(fd);
      return OpenProbe::Opened;
    case posix::LockedOpen::NotRegular:
      return OpenProbe::Missing;
    case posix::LockedOpen::Locked:
      return OpenProbe::Busy;
    case posix::LockedOpen::NotOwnPath:
      return OpenProbe::Denied;
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

const UserFolderWords& userFolderWords() noexcept {
  static constexpr UserFolderWords WORDS = {
      "$HOME/.local/share/" RESKEEPER_FOLDER_NAME, "HOME",
      "at each login the desktop's autostart entry makes it and starts the keeper; log in again"};
  return WORDS;
}

bool userNameFitsCodePage() noexcept {
  return true;
}

bool interactiveTerminal() noexcept {
  return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1;
}

namespace {

volatile sig_atomic_t interrupted = 0;

void noteInterruption(int) {
  interrupted = 1;
}

// Takes Ctrl-C and a closed terminal as an answer for as long as it lives: the wait ends
// instead of the process, so that the caller can still act on the answer.
class InterruptionAsAnswer {
 public:
  InterruptionAsAnswer() noexcept {
    interrupted = 0;
    struct sigaction take {};
    take.sa_handler = noteInterruption;
    sigemptyset(&take.sa_mask);
    take.sa_flags = 0;  // no restart: the wait is interrupted
    ::sigaction(SIGINT, &take, &int_);
    ::sigaction(SIGHUP, &take, &hup_);
  }
  ~InterruptionAsAnswer() {
    ::sigaction(SIGINT, &int_, nullptr);
    ::sigaction(SIGHUP, &hup_, nullptr);
  }
  InterruptionAsAnswer(const InterruptionAsAnswer&) = delete;
  InterruptionAsAnswer& operator=(const InterruptionAsAnswer&) = delete;

 private:
  struct sigaction int_ {};
  struct sigaction hup_ {};
};

}  // namespace

bool readTerminalLine(char* buffer, std::uint32_t capacity, std::uint32_t milliseconds) noexcept {
  if (capacity == 0) return false;
  const InterruptionAsAnswer answer;
  std::uint32_t length = 0;
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t spent =
        (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (spent >= milliseconds) break;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, static_cast<int>(milliseconds - spent));
    if (interrupted) break;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char c;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (interrupted) break;
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (c == '\n') {
      buffer[length] = '\0';
      return true;
    }
    if (c != '\r' && length + 1 < capacity) buffer[length++] = c;
  }
  buffer[length] = '\0';
  return false;
}

Layout installedLayout() noexcept {
  return Layout::PerUser;
}

std::uint32_t installedDataFolder(char* /*buffer*/, std::uint32_t /*capacity*/) noexcept {
  return 0;
}

std::uint32_t userDataFolder(char* buffer, std::uint32_t capacity) noexcept {
  static constexpr char BELOW_HOME[] = "/.local/share/" RESKEEPER_FOLDER_NAME;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return 0;
  const std::size_t length = std::strlen(home);
  if (length + sizeof BELOW_HOME > capacity) return 0;
  std::memcpy(buffer, home, length);
  std::memcpy(buffer + length, BELOW_HOME, sizeof BELOW_HOME);
  return static_cast<std::uint32_t>(length + sizeof BELOW_HOME - 1);
}

}  // namespace platform
