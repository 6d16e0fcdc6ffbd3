// reskeeperctl: what the keeper makes of its preference file for a user, the users it keeps,
// the display's modes, and storing a size so that the keeper keeps it. The verbs and options are
// in command_line.h's tables; the exit statuses in command_line.h and the man page. What
// escapes (no memory, say) is said in one line, with exit status 1.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "ctl/command_line.h"
#include "platform/platform.h"

namespace {

int run(int argc, char** argv) {
  using namespace ctl::cli;
  const Parsed parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  const Invocation& invocation = parsed.invocation;
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
    std::fputs(helpText(invocation.verb).c_str(), stdout);
    return EXIT_OK;
  }
  return invocation.verb->run(invocation);
}

}  // namespace

int main(int argc, char** argv) {
  platform::loadLibrariesFromSystemOnly();
  try {
    ctl::openSafelyWhenElevated();
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "reskeeperctl: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "reskeeperctl: failed\n");
  }
  return ctl::cli::EXIT_FAILED;
}
