// The exit statuses in words, in one place for every text that lists them.
#include "ctl/ctl.h"

namespace ctl {

const ExitMeaning EXIT_MEANINGS[] = {
    {EXIT_OK, "ok"},
    {EXIT_FAILED, "failed"},
    {EXIT_USAGE, "usage"},
    {EXIT_NO_FILE, "no file"},
    {EXIT_UNREADABLE, "unreadable or busy"},
    {EXIT_UNWRITABLE, "not writable"},
    {EXIT_USERNAME_UNSET, "USERNAME unset"},
    {EXIT_USERNAME_EMPTY, "USERNAME empty"},
    {EXIT_NOT_A_MODE, "not a mode"},
    {EXIT_NO_KEEPER, "no keeper"},
    {EXIT_NO_DISPLAY, "no display"},
    {EXIT_DID_NOT_STAY, "the keeper wrote over the size"},
    {EXIT_RETURNED, "not kept (the size before came back)"},
};
const std::size_t EXIT_MEANING_COUNT = sizeof EXIT_MEANINGS / sizeof *EXIT_MEANINGS;

int Status::exitStatus() const {
  int lowest = EXIT_OK;
  for (const Finding& finding : findings) {
    if (lowest == EXIT_OK || finding.status < lowest) lowest = finding.status;
  }
  return lowest;
}

}  // namespace ctl
