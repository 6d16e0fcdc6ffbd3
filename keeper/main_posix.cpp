// The Linux program: no command line, no output, no exit.
#include "keeper/keeper.h"

int main() { keeper::runKeeper(); }
