// The Windows file layer's shared open, used by the store's file calls (file_windows.cpp) and the
// tools' probe (tools_windows.cpp), so that a probe meets other programs exactly as the store's
// own opening would.
#pragma once

#include "platform/platform.h"

namespace platform::windows {

// How the path may reach the file: any way, or only by its own path: no link or junction on
// the way, the file itself none, and no other name (hard link) of the file.
enum class Reach { Any, OwnPath };

enum class SharedOpen {
  Opened,      // `*file` is open
  NotRegular,  // not a regular file on disk (a folder, a console, a pipe, a device)
  NotOwnPath,  // reached through a link, a link itself, or with another name (Reach::OwnPath)
  Failed,      // CreateFileA refused it; GetLastError tells why
};

// Opens the existing file at `path` for reading and writing its bytes, or for reading only,
// sharing it for reading only: while one process holds it open for writing no other can open
// it, and while one reads it no other can open it for writing. Never creates a file; nothing
// stays open unless the result is Opened.
SharedOpen openShared(const char* path, bool forWriting, FileHandle* file,
                      Reach reach = Reach::Any) noexcept;

}  // namespace platform::windows
