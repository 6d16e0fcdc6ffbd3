// The Windows program's entry point: a GUI-subsystem executable that opens no window, reads no
// command line and never returns. Its arguments (instance handles, command line, show state)
// are never looked at, so they are declared without the OS header; the calling convention is
// WINAPI's, which the runtime's start-up code calls it with (it matters on 32-bit x86). It
// loads libraries from System32 alone. A second copy in the same session waits, doing nothing,
// until the first has ended.
#include "keeper/keeper.h"
#include "platform/platform.h"

extern "C" int __stdcall WinMain(void* /*instance*/, void* /*previous*/, char* /*commandLine*/,
                                 int /*show*/) {
  platform::loadLibrariesFromSystemOnly();
  platform::becomeSessionKeeper();
  keeper::runKeeper();
}
