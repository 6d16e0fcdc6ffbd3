// A private file for the fuzz targets: the store works on a real path, so each run writes its
// input into one file in a folder of its own (in /dev/shm when there is one, to spare the disk),
// removed when the process ends.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzing {

inline std::string& folder() {
  static std::string path;
  return path;
}

inline void removeFolder() {
  if (folder().empty()) return;
  std::remove((folder() + "/Pref.txt").c_str());
  ::rmdir(folder().c_str());
}

// The path of the one file, its folder made at the first call.
inline const std::string& filePath() {
  static const std::string path = [] {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/reskeeper-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder() = pattern;
    std::atexit(removeFolder);
    return pattern + "/Pref.txt";
  }();
  return path;
}

inline void writeFile(const std::string& bytes) {
  const int fd = ::open(filePath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

inline std::string readFile() {
  std::string bytes;
  const int fd = ::open(filePath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) std::abort();
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  ::close(fd);
  return bytes;
}

// Stops the run as a finding, with a message saying which rule broke.
[[noreturn]] inline void fail(const char* rule) {
  std::fprintf(stderr, "broken rule: %s\n", rule);
  std::abort();
}

inline void check(bool holds, const char* rule) {
  if (!holds) fail(rule);
}

// The UTF-8 form of Latin-1 text, written the plain way, to hold the store's conversion to.
inline std::string utf8Of(const std::string& latin1) {
  std::string out;
  for (const unsigned char c : latin1) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace fuzzing
