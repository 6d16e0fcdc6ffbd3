// reskeeperctl's exit statuses: in words, and as the status of each result the library gives,
// in one place for every text that lists them and every verb that exits with them. A result
// that has no status here does not compile.
#include "ctl/command_line.h"

namespace ctl::cli {

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

Exit exitStatus(Problem problem) {
  switch (problem) {
    case Problem::NoFile:
      return EXIT_NO_FILE;
    case Problem::Unreadable:
    case Problem::Held:
      return EXIT_UNREADABLE;
    case Problem::Unwritable:
      return EXIT_UNWRITABLE;
    case Problem::UserNameUnset:
      return EXIT_USERNAME_UNSET;
    case Problem::UserNameEmpty:
      return EXIT_USERNAME_EMPTY;
    case Problem::NotAMode:
      return EXIT_NOT_A_MODE;
    case Problem::NoKeeper:
      return EXIT_NO_KEEPER;
    case Problem::NoDisplay:
      return EXIT_NO_DISPLAY;
  }
  return EXIT_FAILED;
}

Exit exitStatus(SetResult result) {
  switch (result) {
    case SetResult::Kept:
      return EXIT_OK;
    case SetResult::Refused:
      return EXIT_USAGE;
    case SetResult::EmptyUserName:
      return EXIT_USERNAME_EMPTY;
    case SetResult::NoDisplay:
      return EXIT_NO_DISPLAY;
    case SetResult::NotAMode:
      return EXIT_NOT_A_MODE;
    case SetResult::NoFile:
      return EXIT_NO_FILE;
    case SetResult::Unreadable:
    case SetResult::Held:
      return EXIT_UNREADABLE;
    case SetResult::Unwritable:
      return EXIT_UNWRITABLE;
    case SetResult::Failed:
      return EXIT_FAILED;
    case SetResult::DidNotStay:
      return EXIT_DID_NOT_STAY;
    case SetResult::Returned:
      return EXIT_RETURNED;
  }
  return EXIT_FAILED;
}

Exit exitStatus(FileAccess access) {
  switch (access) {
    case FileAccess::Fine:
      return EXIT_OK;
    case FileAccess::Missing:
      return EXIT_NO_FILE;
    case FileAccess::Unreadable:
    case FileAccess::Held:
      return EXIT_UNREADABLE;
    case FileAccess::Unwritable:
      return EXIT_UNWRITABLE;
  }
  return EXIT_FAILED;
}

Exit exitStatus(const StatusReport& report) {
  Exit lowest = EXIT_OK;
  for (const Finding& finding : report.findings) {
    const Exit status = exitStatus(finding.problem);
    if (lowest == EXIT_OK || status < lowest) lowest = status;
  }
  return lowest;
}

}  // namespace ctl::cli
