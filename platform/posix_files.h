// The POSIX file layer's locked open, shared by the store's file calls (file_posix.cpp) and the
// tools' probe (tools_posix.cpp), so that a probe meets other programs exactly as the store's
// own opening would.
#pragma once

namespace platform::posix {

// Opens `path` as open(2) does with `flags`, in a way of the caller's; -1 with errno ELOOP for
// a file it refuses for the way it is reached.
using Opener = int (*)(const char* path, int flags);

enum class LockedOpen {
  Opened,      // `*fd` is open and locked
  OpenFailed,  // open() refused it; errno tells why
  NotRegular,  // not a regular file (a folder, a FIFO, a device)
  Locked,      // another open file description holds a conflicting lock, or another process a
               // lease that the open has to break first
  NotOwnPath,  // reached in a way the caller's opener refuses
  Failed,      // any other failure; errno tells why
};

// Opens the existing file at `path` for reading and writing or for reading only, never
// creating it and never blocking (a FIFO does not wait for a writer), keeps it only when it is
// a regular file, and takes an open-file-description lock on the whole file: a write lock for
// writing, a read lock for reading. Like Windows' share modes, while one process holds it open
// for writing no other can open it, and while one reads it no other can open it for writing.
// Nothing stays open unless the result is Opened.
LockedOpen openLocked(const char* path, bool forWriting, int* fd, Opener opener = nullptr) noexcept;

}  // namespace platform::posix
