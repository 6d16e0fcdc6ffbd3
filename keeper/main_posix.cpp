// The Linux program: no command line, no output, no exit. A second copy for the same user and
// display waits, doing nothing, until the first has ended.
#include "keeper/keeper.h"
#include "platform/platform.h"

int main() {
  platform::becomeSessionKeeper();
  keeper::runKeeper();
}
