// The X11 layer's connection: opening it, the error handlers that keep the process alive when
// the server goes away, and the events that tell of changes.
#include "platform/x11_connection.h"

#include <X11/extensions/Xrandr.h>

namespace platform::x11 {

Connection connection;
bool connectionLost = false;
int lastErrorCode = Success;

namespace {

int recordError(Display*, XErrorEvent* error) noexcept {
  lastErrorCode = error->error_code;
  return 0;
}

// Xlib's default handler prints a message; the exit handler below decides what follows.
int quietIoError(Display*) {
  connectionLost = true;
  return 0;
}

// Returning instead of exiting leaves the connection dead but the process alive: every call
// on it fails until it is closed.
void keepRunningAfterIoError(Display*, void*) {
  connectionLost = true;
}

// Opens the connection named by DISPLAY and asks for RandR's change notifications. False
// when no server answers.
bool openConnection() noexcept {
  static bool handlersInstalled = false;
  if (!handlersInstalled) {
    XSetErrorHandler(recordError);
    XSetIOErrorHandler(quietIoError);
    handlersInstalled = true;
  }
  connectionLost = false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XSetIOErrorExitHandler(display, keepRunningAfterIoError, nullptr);
  connection = Connection{};
  connection.display = display;
  connection.root = DefaultRootWindow(display);

  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  if (XRRQueryExtension(display, &eventBase, &errorBase) != 0 &&
      XRRQueryVersion(display, &major, &minor) != 0 && (major > 1 || (major == 1 && minor >= 3))) {
    connection.randr = true;
    connection.randrEventBase = eventBase;
    XRRSelectInput(display, connection.root,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  }
  if (connectionLost) {
    closeConnection();
    return false;
  }
  return true;
}

}  // namespace

void closeConnection() noexcept {
  if (connection.display != nullptr) XCloseDisplay(connection.display);
  connection = Connection{};
  connectionLost = false;
}

Display* liveDisplay() noexcept {
  if (connection.display != nullptr && connectionLost) closeConnection();
  if (connection.display == nullptr && !openConnection()) return nullptr;
  return connection.display;
}

void takeEvents() noexcept {
  Display* display = connection.display;
  while (!connectionLost && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (!connection.randr) continue;
    XRRUpdateConfiguration(&event);
    if (event.type == connection.randrEventBase + RRScreenChangeNotify ||
        event.type == connection.randrEventBase + RRNotify) {
      connection.sizeKnown = false;
    }
  }
}

}  // namespace platform::x11
