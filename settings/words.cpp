// The dialog's sentences. Each kind of finding and of outcome gets words for people who never
// open a console: a kind without words here does not compile.
#include "settings/words.h"

namespace settings {
namespace {

// A name that would not show as itself (blanks only, control bytes) is spelt out.
bool showsAsItself(const std::string& name) {
  bool visible = false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) return false;
    if (c != ' ') visible = true;
  }
  return visible;
}

std::string findingWords(const ctl::Finding& finding, const ctl::StatusReport& status) {
  switch (finding.problem) {
    case ctl::Problem::NoFile:
      if (status.folder.source == ctl::FolderSource::NotChosen) {
        return "Running as an administrator, reskeeper Settings takes no preference file from "
               "the folder it was started in, where another user may have placed one. Start "
               "it with --folder and the folder's name.";
      }
      if (status.folder.source == ctl::FolderSource::UserDefault) {
        return "There is no preference file at " + status.file +
               ". reskeeper makes it when you sign in and keeps nothing until then; sign out "
               "and in again.";
      }
      return "There is no preference file at " + status.file +
             ". reskeeper records and keeps nothing until it exists; installing reskeeper "
             "again creates it.";
    case ctl::Problem::Held:
      return "Another program has held the preference file for a long time, so reskeeper "
             "cannot read it now. Close that program, then press Refresh.";
    case ctl::Problem::Unreadable:
      return "The preference file cannot be read, so reskeeper keeps nothing. Ask an "
             "administrator to install reskeeper again, which repairs its rights.";
    case ctl::Problem::Unwritable: {
      const std::string what =
          "You may not change the preference file: reskeeper applies the resolutions it holds "
          "but records nothing, and a resolution cannot be kept from here. ";
      if (status.folder.layout != ctl::Layout::Shared) {
        return what + "Give yourself write access to " + status.file + ".";
      }
      return what +
             "Ask an administrator to install reskeeper again, which lets every user "
             "change it.";
    }
    case ctl::Problem::UserNameUnset:
      return "The USERNAME variable is not set, so reskeeper keeps your resolution under a "
             "name of 255 spaces, which every such session shares. Sign in again, or start "
             "reskeeper with USERNAME set.";
    case ctl::Problem::UserNameEmpty:
      return "The USERNAME variable is empty: reskeeper never reads a kept resolution back "
             "for an empty name, so it keeps none for you. Sign in again, or start reskeeper "
             "with USERNAME set.";
    case ctl::Problem::NotAMode:
      return "Your kept resolution " + sizeWords(status.record) +
             " is not one this display can show: reskeeper asks for it twice a second and "
             "nothing changes. Choose one in the list and press Keep this resolution.";
    case ctl::Problem::NoKeeper:
      return "reskeeper is not running in your session, so nothing is kept now. Installed, it "
             "starts at every sign-in, and then applies the resolution kept here.";
    case ctl::Problem::NoDisplay:
      return "The display cannot be reached, or its size cannot be told, so reskeeper "
             "cannot switch it.";
  }
  return finding.text;
}

}  // namespace

std::string sizeWords(ctl::Size size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

std::string userText(const ctl::SessionUser& user) {
  switch (user.state) {
    case ctl::UserNameState::Unset:
      return "(USERNAME is not set: a name of 255 spaces)";
    case ctl::UserNameState::Empty:
      return "(USERNAME is empty)";
    case ctl::UserNameState::Set:
      break;
  }
  return showsAsItself(user.name) ? user.name : ctl::displayName(user.name);
}

std::string keptText(const ctl::StatusReport& status) {
  if (status.hasRecord) return sizeWords(status.record);
  if (!status.fileState.exists) return "none (no preference file)";
  if (!status.fileState.readable) return "unknown (the file cannot be read)";
  if (status.user.state == ctl::UserNameState::Empty) return "none (never read back)";
  return "none yet: reskeeper records the present size at its next pass";
}

std::string screenText(const ctl::StatusReport& status) {
  return status.screenKnown ? sizeWords(status.screen) : "unknown (the display cannot be reached)";
}

std::string modeText(const ctl::Mode& mode, const ctl::StatusReport& status) {
  // No refresh rate: the keeper asks for a size, and the display picks the rate. The size on
  // screen is the one the keeper compares with, which the status read.
  const bool kept = status.hasRecord && mode.size == status.record;
  const bool shown = status.screenKnown ? mode.size == status.screen : mode.present;
  std::string text = sizeWords(mode.size);
  if (kept && shown) return text + "  (kept, on screen)";
  if (kept) return text + "  (kept)";
  if (shown) return text + "  (on screen)";
  return text;
}

std::string findingsText(const ctl::StatusReport& status) {
  std::string notes;
  for (const std::string& note : status.notes) notes += "\r\n\r\nNote: " + note + ".";
  if (status.findings.empty()) {
    return (status.hasRecord ? "Nothing is wrong: reskeeper runs in your session and keeps " +
                                   sizeWords(status.record) + " for you."
                             : std::string("Nothing is wrong: reskeeper runs in your session.")) +
           notes;
  }
  std::string text;
  for (const ctl::Finding& finding : status.findings) {
    if (!text.empty()) text += "\r\n\r\n";
    text += findingWords(finding, status);
  }
  return text + notes;
}

std::string outcomeText(const ctl::SetOutcome& outcome, ctl::Size size,
                        const ctl::StatusReport& status) {
  const std::string wanted = sizeWords(size);
  switch (outcome.result) {
    case ctl::SetResult::Kept:
      if (status.keeperRunning && !outcome.switched && status.screenKnown &&
          status.screen != size) {
        return "Stored " + wanted + ", but the screen still shows " + sizeWords(status.screen) +
               ": the display did not take it.";
      }
      if (status.keeperRunning) return "Done: reskeeper now keeps " + wanted + " for you.";
      return "Stored " + wanted +
             ". reskeeper is not running in your session; it applies "
             "this resolution when it starts.";
    case ctl::SetResult::NoFile:
      return "Not kept: there is no preference file.";
    case ctl::SetResult::Unreadable:
    case ctl::SetResult::Held:
      return "Not kept: the preference file could not be read, or another program held it. "
             "Try again.";
    case ctl::SetResult::Unwritable:
      return "Not kept: you may not change the preference file. Ask an administrator.";
    case ctl::SetResult::EmptyUserName:
      return "Not kept: with an empty USERNAME reskeeper cannot keep a resolution for you.";
    case ctl::SetResult::NotAMode:
      return "Not kept: this display does not list " + wanted + ".";
    case ctl::SetResult::NoDisplay:
      return "Not kept: the display cannot be reached, so " + wanted + " cannot be checked.";
    case ctl::SetResult::DidNotStay:
      return "Not kept: reskeeper wrote another size over " + wanted +
             " every time. Does "
             "another reskeeper, or another program, write this file?";
    case ctl::SetResult::Refused:
    case ctl::SetResult::Failed:
    case ctl::SetResult::Returned:
      break;
  }
  return "Not kept: " + outcome.message;
}

}  // namespace settings

namespace settings {

std::string countdownWords(ctl::Size previous, int seconds) {
  return "Returning to " + sizeWords(previous) + " in " + std::to_string(seconds) +
         (seconds == 1 ? " second" : " seconds");
}

std::string returnedText(const ctl::SetOutcome& returned, ctl::Size size, ctl::Size previous,
                         bool answered) {
  const std::string why = answered ? "You chose to return" : "No answer came";
  if (returned.result == ctl::SetResult::Returned) {
    return why + ": reskeeper keeps " + sizeWords(previous) + " again, not " + sizeWords(size) +
           ".";
  }
  return why + ", but " + sizeWords(previous) + " could not be stored again: " + returned.message +
         ".";
}

}  // namespace settings
