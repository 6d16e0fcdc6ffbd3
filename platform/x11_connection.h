// The X11 layer's connection to the server, shared by its source files: one connection (from
// DISPLAY) lives between calls; it is opened again at a later call when the server could not
// be reached or went away, and no X error ends the process.
#pragma once

#include <X11/Xlib.h>
#include <signal.h>

#include <cstdint>

namespace platform::x11 {

// A width and height in pixels (or millimetres, where said).
struct Extent {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The connection and what is known through it. The size is kept until the server announces
// a change, so that the twice-a-second question costs no round trip while nothing changes.
struct Connection {
  Display* display = nullptr;
  Window root = None;
  bool randr = false;  // RandR 1.3 or later is there
  int randrEventBase = 0;
  bool sizeKnown = false;
  Extent size;
};

extern Connection connection;
// Set by the I/O error handlers: the server went away and the connection is dead.
extern bool connectionLost;
// The code of the last protocol error (Success when none came since it was cleared).
extern int lastErrorCode;

// Holds SIGPIPE back while the connection is used, so that writing to a server that went
// away fails (and is reported as an I/O error) instead of ending the process. A SIGPIPE
// raised meanwhile is taken and dropped; one that was pending before is left alone. Only a
// caller that already held SIGPIPE back can have one pending, so that is the only case that
// asks: the usual one costs three system calls (block, take, restore).
class PipeSignalBlock {
 public:
  PipeSignalBlock() noexcept {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    blockedBefore_ = sigismember(&previous_, SIGPIPE) == 1;
    if (blockedBefore_) {
      sigset_t pending;
      sigemptyset(&pending);
      sigpending(&pending);
      pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    }
  }
  ~PipeSignalBlock() {
    if (!pendingBefore_) {
      const timespec noWait{0, 0};
      sigtimedwait(&pipe_, nullptr, &noWait);
    }
    if (!blockedBefore_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  PipeSignalBlock(const PipeSignalBlock&) = delete;
  PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool blockedBefore_ = false;
  bool pendingBefore_ = false;
};

// Closes the connection, if any, and forgets what was known through it.
void closeConnection() noexcept;

// The open connection, opened now when there was none or the last one was lost; nullptr
// when no server can be reached.
Display* liveDisplay() noexcept;

// Takes the events that have arrived. A RandR notification makes the size unknown again;
// each one also keeps Xlib's record of the screen's size (DisplayWidth, DisplayWidthMM) up
// to date.
void takeEvents() noexcept;

}  // namespace platform::x11
