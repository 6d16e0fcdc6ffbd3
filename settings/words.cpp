// The dialog's sentences. Each finding and outcome status gets words for people who never open
// a console; a status this file does not know yet is shown with the library's own line.
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

std::string findingWords(const ctl::Finding& finding, const ctl::Status& status) {
  switch (finding.status) {
    case ctl::EXIT_NO_FILE:
      if (status.folder.source == ctl::FolderSource::NotChosen)
        return "Running as an administrator, reskeeper Settings takes no preference file from "
               "the folder it was started in, where another user may have placed one. Start "
               "it with --folder and the folder's name.";
      if (status.folder.source == ctl::FolderSource::UserDefault)
        return "There is no preference file at " + status.file +
               ". reskeeper makes it when you sign in and keeps nothing until then; sign out "
               "and in again.";
      return "There is no preference file at " + status.file +
             ". reskeeper records and keeps nothing until it exists; installing reskeeper "
             "again creates it.";
    case ctl::EXIT_UNREADABLE:
      if (status.fileState.busy)
        return "Another program has held the preference file for a long time, so reskeeper "
               "cannot read it now. Close that program, then press Refresh.";
      return "The preference file cannot be read, so reskeeper keeps nothing. Ask an "
             "administrator to install reskeeper again, which repairs its rights.";
    case ctl::EXIT_UNWRITABLE:
      if (status.folder.layout != ctl::Layout::Shared)
        return "You may not change the preference file: reskeeper applies the resolutions it "
               "holds but records nothing, and a resolution cannot be kept from here. Give "
               "yourself write access to " +
               status.file + ".";
      return "You may not change the preference file: reskeeper applies the resolutions it "
             "holds but records nothing, and a resolution cannot be kept from here. Ask an "
             "administrator to install reskeeper again, which lets every user change it.";
    case ctl::EXIT_USERNAME_UNSET:
      return "The USERNAME variable is not set, so reskeeper keeps your resolution under a "
             "name of 255 spaces, which every such session shares. Sign in again, or start "
             "reskeeper with USERNAME set.";
    case ctl::EXIT_USERNAME_EMPTY:
      return "The USERNAME variable is empty: reskeeper never reads a kept resolution back "
             "for an empty name, so it keeps none for you. Sign in again, or start reskeeper "
             "with USERNAME set.";
    case ctl::EXIT_NOT_A_MODE:
      return "Your kept resolution " + sizeWords(status.record) +
             " is not one this display can show: reskeeper asks for it twice a second and "
             "nothing changes. Choose one in the list and press Keep this resolution.";
    case ctl::EXIT_NO_KEEPER:
      return "reskeeper is not running in your session, so nothing is kept now. Installed, it "
             "starts at every sign-in, and then applies the resolution kept here.";
    case ctl::EXIT_NO_DISPLAY:
      return "The display cannot be reached, or its size cannot be told, so reskeeper "
             "cannot switch it.";
    default:
      return finding.text;
  }
}

}  // namespace

std::string sizeWords(ctl::Size size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

std::string userText(const ctl::UserName& user) {
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

std::string keptText(const ctl::Status& status) {
  if (status.hasRecord) return sizeWords(status.record);
  if (!status.fileState.exists) return "none (no preference file)";
  if (!status.fileState.readable) return "unknown (the file cannot be read)";
  if (status.user.state == ctl::UserNameState::Empty) return "none (never read back)";
  return "none yet: reskeeper records the present size at its next pass";
}

std::string screenText(const ctl::Status& status) {
  return status.screenKnown ? sizeWords(status.screen) : "unknown (the display cannot be reached)";
}

std::string modeText(const ctl::Mode& mode, const ctl::Status& status) {
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

std::string findingsText(const ctl::Status& status) {
  std::string notes;
  for (const std::string& note : status.notes) notes += "\r\n\r\nNote: " + note + ".";
  if (status.findings.empty())
    return (status.hasRecord ? "Nothing is wrong: reskeeper runs in your session and keeps " +
                                   sizeWords(status.record) + " for you."
                             : std::string("Nothing is wrong: reskeeper runs in your session.")) +
           notes;
  std::string text;
  for (const ctl::Finding& finding : status.findings) {
    if (!text.empty()) text += "\r\n\r\n";
    text += findingWords(finding, status);
  }
  return text + notes;
}

std::string outcomeText(const ctl::SetOutcome& outcome, ctl::Size size, const ctl::Status& status) {
  const std::string wanted = sizeWords(size);
  switch (outcome.status) {
    case ctl::EXIT_OK:
      if (status.keeperRunning && !outcome.switched && status.screenKnown && status.screen != size)
        return "Stored " + wanted + ", but the screen still shows " + sizeWords(status.screen) +
               ": the display did not take it.";
      if (status.keeperRunning) return "Done: reskeeper now keeps " + wanted + " for you.";
      return "Stored " + wanted +
             ". reskeeper is not running in your session; it applies "
             "this resolution when it starts.";
    case ctl::EXIT_NO_FILE:
      return "Not kept: there is no preference file.";
    case ctl::EXIT_UNREADABLE:
      return "Not kept: the preference file could not be read, or another program held it. "
             "Try again.";
    case ctl::EXIT_UNWRITABLE:
      return "Not kept: you may not change the preference file. Ask an administrator.";
    case ctl::EXIT_USERNAME_EMPTY:
      return "Not kept: with an empty USERNAME reskeeper cannot keep a resolution for you.";
    case ctl::EXIT_NOT_A_MODE:
      return "Not kept: this display does not list " + wanted + ".";
    case ctl::EXIT_NO_DISPLAY:
      return "Not kept: the display cannot be reached, so " + wanted + " cannot be checked.";
    case ctl::EXIT_DID_NOT_STAY:
      return "Not kept: reskeeper wrote another size over " + wanted +
             " every time. Does "
             "another reskeeper, or another program, write this file?";
    default:
      return "Not kept: " + outcome.message;
  }
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
  if (returned.status == ctl::EXIT_RETURNED)
    return why + ": reskeeper keeps " + sizeWords(previous) + " again, not " + sizeWords(size) +
           ".";
  return why + ", but " + sizeWords(previous) + " could not be stored again: " + returned.message +
         ".";
}

}  // namespace settings
