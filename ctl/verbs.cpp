// reskeeperctl's verbs and options, each in one row of its table, and what each verb does: data
// to standard output, messages to standard error.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "ctl/command_line.h"
#include "ctl/json.h"
#include "platform/tools.h"

namespace ctl::cli {
namespace {

void message(const std::string& line) {
  std::fprintf(stderr, "reskeeperctl: %s\n", line.c_str());
}

const char* encodingText(std::optional<keeper::FileEncoding> encoding) {
  if (!encoding) return nullptr;
  switch (*encoding) {
    case keeper::FileEncoding::Ansi:
      return "ANSI";
    case keeper::FileEncoding::Utf8:
      return "UTF-8";
  }
  return nullptr;
}

const char* sourceKey(FolderSource source) {
  switch (source) {
    case FolderSource::Option:
      return "option";
    case FolderSource::CurrentFolder:
      return "current-folder";
    case FolderSource::Installed:
      return "installed-shared";
    case FolderSource::UserDefault:
      return "user-own";
    case FolderSource::NotChosen:
      return "none";
    case FolderSource::Fallback:
      break;
  }
  return "fallback";
}

const char* userStateKey(UserNameState state) {
  switch (state) {
    case UserNameState::Unset:
      return "unset";
    case UserNameState::Empty:
      return "empty";
    case UserNameState::Set:
      break;
  }
  return "set";
}

std::string jsonSize(bool known, Size size) {
  return known ? "{\"width\": " + std::to_string(size.width) +
                     ", \"height\": " + std::to_string(size.height) + "}"
               : "null";
}

std::string jsonBool(bool value) {
  return value ? "true" : "false";
}

void printStatusJson(const StatusReport& s) {
  const FileState& f = s.fileState;
  const char* encoding = encodingText(f.encoding);
  std::string notes;
  for (const std::string& note : s.notes) {
    notes += std::string(notes.empty() ? "" : ", ") + jsonString(note);
  }
  std::string problems;
  for (const Finding& finding : s.findings) {
    problems += std::string(problems.empty() ? "" : ",") +
                "\n    {\"status\": " + std::to_string(exitStatus(finding.problem)) +
                ", \"text\": " + jsonString(finding.text) + "}";
  }
  std::printf(
      "{\n  \"file\": %s,\n  \"chosen\": \"%s\",\n  \"layout\": \"%s\",\n"
      "  \"exists\": %s,\n  \"readable\": %s,\n  \"writable\": %s,\n  \"busy\": %s,\n"
      "  \"encoding\": %s,\n  \"user\": %s,\n  \"userState\": \"%s\",\n  \"record\": %s,\n"
      "  \"recordIsMode\": %s,\n  \"screen\": %s,\n  \"keeperRunning\": %s,\n"
      "  \"notes\": [%s],\n  \"problems\": [%s%s],\n  \"status\": %d\n}\n",
      jsonString(s.file).c_str(), sourceKey(s.folder.source), layoutName(s.folder.layout).c_str(),
      jsonBool(f.exists).c_str(), jsonBool(f.readable).c_str(), jsonBool(f.writable).c_str(),
      jsonBool(f.busy).c_str(), encoding ? ("\"" + std::string(encoding) + "\"").c_str() : "null",
      jsonString(s.user.name).c_str(), userStateKey(s.user.state),
      jsonSize(s.hasRecord, s.record).c_str(),
      s.hasRecord && s.modesKnown ? jsonBool(s.recordIsMode).c_str() : "null",
      jsonSize(s.screenKnown, s.screen).c_str(), jsonBool(s.keeperRunning).c_str(), notes.c_str(),
      problems.c_str(), problems.empty() ? "" : "\n  ", static_cast<int>(exitStatus(s)));
}

void printStatus(const StatusReport& s) {
  const FileState& f = s.fileState;
  std::printf("file:    %s\n", s.file.c_str());
  std::printf("         chosen: %s\n", describeSource(s.folder.source).c_str());
  if (!f.exists) {
    std::printf("         does not exist\n");
  } else {
    const char* encoding = encodingText(f.encoding);
    std::printf("         %s, %s, %s\n",
                f.busy       ? "busy"
                : f.readable ? "readable"
                             : "not readable",
                f.busy       ? "held by another program"
                : f.writable ? "writable"
                             : "not writable",
                encoding ? encoding : "encoding unknown");
  }
  std::printf("layout:  %s\n", layoutName(s.folder.layout).c_str());
  std::printf("user:    %s%s\n", displayName(s.user.name).c_str(),
              s.user.state == UserNameState::Unset   ? " (USERNAME is not set)"
              : s.user.state == UserNameState::Empty ? " (USERNAME is empty)"
                                                     : "");
  if (s.hasRecord) {
    std::printf("record:  %s%s\n", sizeText(s.record).c_str(),
                !s.modesKnown    ? ""
                : s.recordIsMode ? " (a mode of this display)"
                                 : " (not a mode of this display)");
  } else {
    std::printf("record:  none yet (the keeper records the screen's size at its next pass)\n");
  }
  std::printf("screen:  %s\n", s.screenKnown ? sizeText(s.screen).c_str() : "unknown");
  std::printf("keeper:  %s\n", s.keeperRunning ? "running in this session" : "not running");
  for (const std::string& note : s.notes) std::printf("note: %s\n", note.c_str());
  for (const Finding& finding : s.findings) {
    std::printf("problem %d: %s\n", static_cast<int>(exitStatus(finding.problem)),
                finding.text.c_str());
  }
  if (s.findings.empty()) std::printf("no problem found\n");
}

int runStatus(const Invocation& invocation) {
  const StatusReport s = readStatus(chooseFolder(invocation.folder));
  if (invocation.options & OPTION_JSON) {
    printStatusJson(s);
  } else {
    printStatus(s);
  }
  return exitStatus(s);
}

int runList(const Invocation& invocation) {
  const Folder folder = chooseFolder(invocation.folder);
  std::vector<Record> records;
  const FileAccess read = loadRecords(folder, records);
  if (read != FileAccess::Fine) {
    message("cannot read " + preferenceFilePath(folder));
    return exitStatus(read);
  }
  const std::string me = currentUser().name;
  if (invocation.options & OPTION_JSON) {
    std::printf("[");
    for (std::size_t i = 0; i < records.size(); ++i) {
      std::printf("%s\n  {\"user\": %s, \"width\": %d, \"height\": %d}", i == 0 ? "" : ",",
                  jsonString(records[i].user).c_str(), records[i].size.width,
                  records[i].size.height);
    }
    std::printf("%s]\n", records.empty() ? "" : "\n");
    return EXIT_OK;
  }
  std::size_t wide = 4;
  for (const Record& r : records) wide = std::max(wide, displayName(r.user).size());
  for (const Record& r : records) {
    std::printf("%s %-*s  %s\n", r.user == me ? "*" : " ", static_cast<int>(wide),
                displayName(r.user).c_str(), sizeText(r.size).c_str());
  }
  if (records.empty()) message("no user is kept yet");
  return EXIT_OK;
}

int runModes(const Invocation& invocation) {
  std::vector<Mode> modes;
  if (!listModes(modes)) {
    message("the display cannot be reached");
    return EXIT_NO_DISPLAY;
  }
  const bool json = invocation.options & OPTION_JSON;
  if (json) std::printf("[");
  for (std::size_t i = 0; i < modes.size(); ++i) {
    const Mode& mode = modes[i];
    std::string rates;
    for (const std::int32_t hz : mode.refreshRates) {
      rates += (json && !rates.empty() ? ", " : json ? "" : " ") + std::to_string(hz);
    }
    if (json) {
      std::printf("%s\n  {\"width\": %d, \"height\": %d, \"refreshRates\": [%s], \"present\": %s}",
                  i == 0 ? "" : ",", mode.size.width, mode.size.height, rates.c_str(),
                  jsonBool(mode.present).c_str());
    } else {
      std::printf("%s %-11s%s%s\n", mode.present ? "*" : " ", sizeText(mode.size).c_str(),
                  rates.c_str(), rates.empty() ? "" : " Hz");
    }
  }
  if (json) std::printf("%s]\n", modes.empty() ? "" : "\n");
  return EXIT_OK;
}

std::string checkSet(Invocation& invocation) {
  std::string error;
  if (!parseSize(invocation.operands[0], invocation.size, error)) return error;
  if (invocation.options & OPTION_CONFIRM) {
    const std::string& seconds = invocation.confirm;
    const bool digits = !seconds.empty() && seconds.size() <= 3 &&
                        seconds.find_first_not_of("0123456789") == std::string::npos;
    invocation.confirmSeconds = digits ? std::stoi(seconds) : 0;
    if (invocation.confirmSeconds < 1 || invocation.confirmSeconds > MAX_CONFIRM_SECONDS) {
      return "--confirm takes a number of seconds from 1 to " +
             std::to_string(MAX_CONFIRM_SECONDS) + ", not '" + displayName(seconds) + "'";
    }
  }
  if ((invocation.options & OPTION_USER) != 0 && !canKeepSizeFor(invocation.user) &&
      !invocation.user.empty()) {
    return "the user name '" + displayName(invocation.user) +
           "' holds ], CR or LF, which a group header cannot hold";
  }
  return "";
}

int runSet(const Invocation& invocation) {
  const Folder folder = chooseFolder(invocation.folder);
  SetRequest request;
  request.userGiven = (invocation.options & OPTION_USER) != 0;
  request.user = invocation.user;
  request.size = invocation.size;
  request.force = (invocation.options & OPTION_FORCE) != 0;
  // Each user's keeper reads that user's own file: a size stored for another name in this
  // user's file would never be applied.
  if (request.userGiven && folder.source == FolderSource::UserDefault &&
      request.user != currentUser().name) {
    const std::string who = displayName(request.user);
    message(who + "'s keeper reads " + who + "'s own file, Data/Pref.txt in their " +
            userFolderHint() + ", not " + preferenceFilePath(folder) +
            "; nothing changed (--folder names theirs)");
    return EXIT_USAGE;
  }
  const SetOutcome outcome = setResolution(folder, request, message);
  message(outcome.message);
  // A size someone can see is asked about: it may leave the screen black or unreadable.
  if (outcome.result != SetResult::Kept || !outcome.switched || request.userGiven ||
      request.force || (invocation.options & OPTION_YES) != 0 || !platform::interactiveTerminal()) {
    return exitStatus(outcome.result);
  }
  const int seconds = invocation.confirmSeconds;
  std::fprintf(stderr, "Keep %s? [y/N] (returning to %s in %d s) ", sizeText(request.size).c_str(),
               sizeText(outcome.previous).c_str(), seconds);
  std::fflush(stderr);
  char line[64];
  const bool answered =
      platform::readTerminalLine(line, sizeof line, static_cast<std::uint32_t>(seconds) * 1000);
  std::string answer = answered ? line : "";
  answer.erase(0, answer.find_first_not_of(" \t"));
  answer.erase(answer.find_last_not_of(" \t") + 1);
  for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!answered) std::fputc('\n', stderr);
  if (answer == "y" || answer == "yes") {
    message("kept " + sizeText(request.size));
    return EXIT_OK;
  }
  message(std::string(answered ? "not kept" : "no answer") + "; returning to " +
          sizeText(outcome.previous));
  const SetOutcome returned = returnToPrevious(folder, request, outcome, message);
  message(returned.message);
  return exitStatus(returned.result);
}

}  // namespace

const Option OPTIONS[] = {
    {"--folder", "DIR", 0, "the folder holding Data/Pref.txt (the keeper's working folder)"},
    {"--json", nullptr, OPTION_JSON, "print JSON for scripts"},
    {"--user", "NAME", OPTION_USER, "the user to store the size for (default: you)"},
    {"--force", nullptr, OPTION_FORCE, "store a size the display does not list"},
    {"--yes", nullptr, OPTION_YES, "keep the new size without asking"},
    {"--confirm", "SECONDS", OPTION_CONFIRM,
     "how long a new size waits to be kept before it returns (default 15)"},
};
const std::size_t OPTION_COUNT = sizeof OPTIONS / sizeof *OPTIONS;

const Verb VERBS[] = {
    {"status", "", 0, OPTION_JSON, "what the keeper will do for you, and any problem",
     "Shows the preference file and how it was chosen, the layout installed, whether the file\n"
     "can be read and written, your user name as the keeper reads it, your kept size, the\n"
     "screen's size, whether the kept size is a mode, and whether a keeper runs. Each problem\n"
     "gets a line; the exit status is the lowest problem's (0: nothing wrong). --json prints\n"
     "all of it as one object.\n",
     nullptr, runStatus},
    {"list", "", 0, OPTION_JSON, "every user the keeper keeps a size for",
     "Every user the keeper would load, in its order, with width and height; * marks you.\n"
     "--json prints an array of {\"user\", \"width\", \"height\"}.\n",
     nullptr, runList},
    {"modes", "", 0, OPTION_JSON, "the display's modes, the present one marked",
     "The primary display's modes with their refresh rates; * marks the present one. --json\n"
     "prints an array of {\"width\", \"height\", \"refreshRates\", \"present\"}.\n",
     nullptr, runModes},
    {"set", "WIDTHxHEIGHT", 1, OPTION_USER | OPTION_FORCE | OPTION_YES | OPTION_CONFIRM,
     "keep WIDTHxHEIGHT for you (or for NAME)",
     "Stores the size for you (or for NAME) so that the keeper applies and keeps it, and with a\n"
     "running keeper waits for its next passes to confirm it. A size the display does not list\n"
     "is refused unless --force. At a terminal, once the keeper has switched your screen to it,\n"
     "it asks whether to keep it: only y keeps it; anything else, or no answer within the\n"
     "countdown (15 s, or --confirm SECONDS), stores the size before again and waits for the\n"
     "keeper to switch back (exit status 12). --yes keeps it without asking; nothing is asked\n"
     "without a terminal, with --user, or with --force.\n",
     checkSet, runSet},
};
const std::size_t VERB_COUNT = sizeof VERBS / sizeof *VERBS;

}  // namespace ctl::cli
