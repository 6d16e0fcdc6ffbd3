// reskeeperctl: what the keeper makes of its preference file for a user, the users it keeps,
// the display's modes, and storing a size so that the keeper keeps it. The verbs and options are
// in command_line.h's tables; the exit statuses in ctl.h and the man page.
#include <cstdio>
#include <string>
#include <vector>

#include "ctl/command_line.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  using namespace ctl;
  platform::loadLibrariesFromSystemOnly();
  openSafelyWhenElevated();
  const cli::Parsed parsed = cli::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  const cli::Invocation& invocation = parsed.invocation;
  if (!parsed.problem.empty()) {
    std::fprintf(stderr, "reskeeperctl: %s; `reskeeperctl --help` shows the usage\n",
                 parsed.problem.c_str());
    return EXIT_USAGE;
  }
  if (invocation.version) {
    std::printf("reskeeperctl %s\n", RESKEEPER_VERSION);
    return EXIT_OK;
  }
  if (invocation.help) {
    std::fputs(cli::helpText(invocation.verb).c_str(), stdout);
    return EXIT_OK;
  }
  return invocation.verb->run(invocation);
}
