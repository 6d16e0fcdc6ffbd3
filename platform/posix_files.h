// The POSIX file layer's locked open, shared by the store's file calls (file_posix.cpp) and the
// tools' probe (tools_posix.cpp), so that a probe meets other programs exactly as the store's
// own opening would.
#pragma once

namespace platform::posix {

// How the path may reach the file: any way, or only by its own path: no symbolic link on the
// way, the file itself none, and no other name (hard link) of the file.
enum class Reach { Any, OwnPath };

enum class LockedOpen {
  Opened,      // `*fd` is open and locked
  OpenFailed,  // open() refused it; errno tells why
  NotRegular,  // not a regular file (a folder, a FIFO, a device)
  Locked,      // another open file description holds a conflicting lock, or another process a
               // lease that the open has to break first
  NotOwnPath,  // reached through a link, a link itself, or with another name (Reach::OwnPath)
  Failed,      // any other failure; errno tells why
};

// Opens the existing file at `path` for reading and writing or for reading only, never
// creating it and never blocking (a FIFO does not wait for a writer), keeps it only when it is
// a regular file, and takes an open-file-description lock on the whole file: a write lock for
// writing, a read lock for reading. Like Windows' share modes, while one process holds it open
// for writing no other can open it, and while one reads it no other can open it for writing.
// Nothing stays open unless the result is Opened.
LockedOpen openLocked(const char* path, bool forWriting, int* fd,
                      Reach reach = Reach::Any) noexcept;

}  // namespace platform::posix
