// The Windows file layer's shared open, used by the store's file calls (file_windows.cpp) and the
// tools' probe (tools_windows.cpp), so that a probe meets other programs exactly as the store's
// own opening would.
#pragma once

#include "platform/platform.h"

namespace platform::windows {

// Whether the file just opened in `handle` (the file itself, never what a link points to) is
// reached by `path` in a way the caller accepts.
using ReachCheck = bool (*)(void* handle, const char* path);

enum class SharedOpen {
  Opened,      // `*file` is open
  NotRegular,  // not a regular file on disk (a folder, a console, a pipe, a device)
  NotOwnPath,  // reached in a way the caller's check refuses
  Failed,      // CreateFileA refused it; GetLastError tells why
};

// Opens the existing file at `path` for reading and writing its bytes, or for reading only,
// sharing it for reading only: while one process holds it open for writing no other can open
// it, and while one reads it no other can open it for writing. Never creates a file; nothing
// stays open unless the result is Opened.
SharedOpen openShared(const char* path, bool forWriting, FileHandle* file,
                      ReachCheck reached = nullptr) noexcept;

}  // namespace platform::windows
