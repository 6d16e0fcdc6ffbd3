// Drives the X11 display calls of the program for display_test.py: one command per line on
// standard input, one answer line per command on standard output, through one connection
// that lives as long as the process, as in the program.
//   size          the primary display's size: "WxH"
//   set W H [B]   asks for a mode of W x H (at B bits per pixel, 32 when not given): "done"
//   quit          ends the probe
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

int main() {
  char line[256];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    int width = 0;
    int height = 0;
    int bits = 32;
    if (std::strncmp(line, "size", 4) == 0) {
      const int shownWidth = platform::primaryDisplayWidth();
      const int shownHeight = platform::primaryDisplayHeight();
      std::printf("%dx%d\n", shownWidth, shownHeight);
    } else if (std::sscanf(line, "set %d %d %d", &width, &height, &bits) >= 2) {
      platform::changeDisplayMode(width, height, bits);
      std::printf("done\n");
    } else if (std::strncmp(line, "quit", 4) == 0) {
      return 0;
    } else {
      std::printf("unknown command\n");
    }
    std::fflush(stdout);
  }
  return 0;
}
