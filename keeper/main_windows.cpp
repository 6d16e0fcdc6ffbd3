// The Windows program's entry point: a GUI-subsystem executable that opens no window, reads no
// command line and never returns. Its arguments (instance handles, command line, show state)
// are never looked at, so they are declared without the OS header.
#include "keeper/keeper.h"

extern "C" int WinMain(void* /*instance*/, void* /*previous*/, char* /*commandLine*/,
                       int /*show*/) {
  keeper::runKeeper();
}
