// The only door to the operating system: start-up, memory, files, environment, display, time,
// and the keeper's presence.
// Each operating system has its own source files behind this header, chosen by the build;
// nothing above this layer includes an OS header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace platform {

// ---- Start-up ----------------------------------------------------------------------------

// Windows: from now on the process loads libraries only from System32, never from its own or
// the current folder, so that no file planted beside it or where it was started from is run in
// its name. Called first by every program the Windows package installs. Where Windows lacks
// SetDefaultDllDirectories (7 SP1 without KB2533623), the current folder alone is taken out of
// the search, and the program's own folder, first in the order, is one only administrators may
// change. Does nothing on Linux.
void loadLibrariesFromSystemOnly() noexcept;

// ---- Memory ------------------------------------------------------------------------------

// Gives `size` bytes aligned for any fundamental type, or nullptr when memory cannot be had
// (or when a test has asked this call to fail, see platform_testing.h). Never throws, never
// aborts.
void* allocate(std::size_t size) noexcept;

// Gives back memory from allocate(); nullptr is ignored.
void release(void* memory) noexcept;

struct Releaser {
  void operator()(void* memory) const noexcept { release(memory); }
};

// Owner of memory from allocate(); objects held must be trivially destructible.
template <typename T>
using Owned = std::unique_ptr<T, Releaser>;

// Allocates and value-initialises one T, or gives nullptr.
template <typename T>
T* create() noexcept {
  void* memory = allocate(sizeof(T));
  return memory ? new (memory) T() : nullptr;
}

// Allocates room for `count` T (uninitialised), or gives nullptr, also when the byte count
// would overflow.
template <typename T>
T* allocateArray(std::size_t count) noexcept {
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  return static_cast<T*>(allocate(count * sizeof(T)));
}

// ---- Files -------------------------------------------------------------------------------

// An open file: a descriptor on POSIX, a HANDLE on Windows. INVALID_FILE when none.
using FileHandle = std::intptr_t;
inline constexpr FileHandle INVALID_FILE = -1;

// The file calls, routed through one table so that a test can make any of them fail. The
// default entries are the real calls. Every entry reports success with true.
struct FileCalls {
  // Opens an existing regular file for reading and writing, letting other processes read it
  // but not write it. Never creates a file.
  bool (*openReadWrite)(const char* path, FileHandle* file);
  // Opens an existing regular file for reading only, letting others read it but not write it.
  bool (*openReadOnly)(const char* path, FileHandle* file);
  // The file's size in bytes.
  bool (*size)(FileHandle file, std::int64_t* size);
  // One read of up to `count` bytes at the file position; `got` is what arrived.
  bool (*read)(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* got);
  // Moves the file position to `offset` bytes from the start.
  bool (*seek)(FileHandle file, std::int64_t offset);
  // Makes sure the file can hold `length` bytes without running out of space, growing it to
  // that length if it is shorter. The file position afterwards is unspecified.
  bool (*reserve)(FileHandle file, std::int64_t length);
  // Writes `count` bytes at the file position, all of them unless an error comes;
  // `written` is what was written before it.
  bool (*write)(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t* written);
  // Ends the file at the file position, shortening or lengthening it.
  bool (*setEnd)(FileHandle file);
  // Closes the file.
  void (*close)(FileHandle file);
};

// The table in use: the real calls unless a test has overridden entries (platform_testing.h
// has the defaults to put back).
FileCalls& fileCalls() noexcept;

// ---- Environment, display and time -------------------------------------------------------

// Copies the value of environment variable `name` with its terminating zero into `buffer`
// when value and zero fit in `capacity` bytes, and gives the value's length. When the variable
// is not set it gives 0 and leaves the buffer as it was; when the value does not fit it gives
// the size needed (length + 1) and leaves the buffer as it was.
std::uint32_t readEnvironment(const char* name, char* buffer, std::uint32_t capacity) noexcept;

// The primary display's present width and height in pixels; 0 when it cannot be told.
std::int32_t primaryDisplayWidth() noexcept;
std::int32_t primaryDisplayHeight() noexcept;

// Asks for the primary display to show `width` x `height` at `bitsPerPixel`. On Windows the
// rest of the request is the display's first listed mode, and when Windows refuses that as a
// bad mode, size and depth are asked for once more alone; on X11 a mode of that exact size is
// taken, at the present refresh rate when there is a choice, and the colour depth is left as
// it is. What comes of it is not reported.
void changeDisplayMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) noexcept;

// Waits `milliseconds`.
void sleepMilliseconds(std::uint32_t milliseconds) noexcept;

// ---- One keeper per session --------------------------------------------------------------
//
// Two keepers in one session would each keep their own file and switch the display back and
// forth, so a keeper first makes itself the only one.
//
// Windows: the keeper holds a mutex named `Local\reskeeper-keeper` in the session's own
// namespace, so that keepers of other sessions (fast user switching, Remote Desktop) are not
// affected. It exists for as long as a keeper runs (or waits to).
//
// Linux: per user (effective user id) and X display. The keeper holds an open-file-description
// write lock on the file `reskeeper-keeper<display>.lock`, where <display> is $DISPLAY without
// its screen number (`:0.0` and `:0` are one display) and with every byte but letters, digits,
// `.`, `:`, `_` and `-` turned into `_`. The file lies in $XDG_RUNTIME_DIR when that is set to
// an absolute path of a folder that belongs to the user and that no one else may enter;
// otherwise in the folder /tmp/reskeeper-<uid>, made with mode 0700 when missing and used only
// when it is a folder (not a link) of the user's that no one else may enter. The lock file is
// never followed through a link and must be a regular file of the user's. Where none of this
// holds (another user has squatted the /tmp name, for instance), the keeper runs unguarded, as
// if it were the only one, and keeperRunning() says false; another user can thus never make a
// keeper wait, nor point it at a file of theirs. The lock goes with the process, however it
// ends.

// Blocks, doing nothing else, until this process is the only keeper of its session (Windows)
// or of its user and X display (Linux); holds that until the process ends. On Windows it first
// marks the process ready for input, so that no busy pointer is shown for it while it waits or
// runs; a mutex that this copy may not open (made by a keeper started elevated) is another
// keeper's, and it waits until that one has gone.
void becomeSessionKeeper() noexcept;
// Windows: tells the system that this GUI-subsystem process is ready for input (it looks at its
// message queue once, and never needs it again), so that a program started from a shortcut
// shows no busy pointer. Does nothing on Linux.
void becomeReadyForInput() noexcept;
// Whether some process is the keeper of this session (user and display) now. It only looks:
// it takes neither the mutex nor the lock, so a keeper starting meanwhile never misses its
// start.
bool keeperRunning() noexcept;

}  // namespace platform
