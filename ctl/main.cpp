// reskeeperctl: what the keeper makes of its preference file for a user, the users it keeps,
// the display's modes, and storing a size so that the keeper keeps it. Data goes to standard
// output, messages to standard error; the exit statuses are listed in ctl.h and the man page.
#include <cstdio>
#include <string>
#include <vector>

#include "ctl/ctl.h"

namespace {

using namespace ctl;

const char* const GENERAL_HELP =
    "usage: reskeeperctl [--folder DIR] VERB [OPTIONS]\n"
    "\n"
    "  status                       what the keeper will do for you, and any problem\n"
    "  list [--json]                every user the keeper keeps a size for\n"
    "  modes                        the display's modes, the present one marked\n"
    "  set [--user NAME] WxH [--force]\n"
    "                               keep WxH for you (or for NAME)\n"
    "\n"
    "  --folder DIR   the folder holding Data/Pref.txt (the keeper's working folder)\n"
    "  --help         this text, or a verb's with VERB --help\n"
    "  --version      the version\n"
    "\n"
    "Exit statuses: 0 ok, 1 failed, 2 usage, 3 no file, 4 unreadable or busy, 5 not writable,\n"
    "6 USERNAME unset, 7 USERNAME empty, 8 not a mode, 9 no keeper, 10 no display,\n"
    "11 the keeper wrote over the size. See reskeeperctl(1).\n";

struct VerbHelp {
  const char* verb;
  const char* text;
};
const VerbHelp VERB_HELP[] = {
    {"status",
     "usage: reskeeperctl status [--folder DIR]\n"
     "Shows the preference file and how it was chosen, whether it can be read and written,\n"
     "your user name as the keeper reads it, your kept size, the screen's size, whether the\n"
     "kept size is a mode, and whether a keeper runs. Each problem gets a line; the exit\n"
     "status is the lowest problem's (0: nothing wrong).\n"},
    {"list",
     "usage: reskeeperctl list [--json] [--folder DIR]\n"
     "Every user the keeper would load, in its order, with width and height; * marks you.\n"
     "--json prints an array of {\"user\", \"width\", \"height\"}.\n"},
    {"modes",
     "usage: reskeeperctl modes\n"
     "The primary display's modes with their refresh rates; * marks the present one.\n"},
    {"set",
     "usage: reskeeperctl set [--user NAME] WIDTHxHEIGHT [--force] [--folder DIR]\n"
     "Stores the size for you (or for NAME) so that the keeper applies and keeps it, and with a\n"
     "running keeper waits for its next passes to confirm it. A size the display does not list\n"
     "is refused unless --force.\n"},
};

int usage(const std::string& problem) {
  std::fprintf(stderr, "reskeeperctl: %s; `reskeeperctl --help` shows the usage\n",
               problem.c_str());
  return EXIT_USAGE;
}

std::string sizeText(Size size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// A name as a JSON string: each byte taken as the character of that code point (Latin-1),
// written in UTF-8, with quotes, backslashes and control characters escaped.
std::string jsonString(const std::string& bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out + "\"";
}

const char* encodingText(Encoding encoding) {
  switch (encoding) {
    case Encoding::Ansi:
      return "ANSI";
    case Encoding::Utf8:
      return "UTF-8";
    case Encoding::Unknown:
      break;
  }
  return "encoding unknown";
}

int runStatus(const Folder& folder) {
  const Status s = readStatus(folder);
  const FileState& f = s.fileState;
  std::printf("file:    %s\n", s.file.c_str());
  std::printf("         chosen: %s\n", describeSource(folder.source).c_str());
  if (!f.exists) {
    std::printf("         does not exist\n");
  } else {
    std::printf("         %s, %s, %s\n",
                f.busy       ? "busy"
                : f.readable ? "readable"
                             : "not readable",
                f.busy       ? "held by another program"
                : f.writable ? "writable"
                             : "not writable",
                encodingText(f.encoding));
  }
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
  for (const Finding& finding : s.findings) {
    std::printf("problem %d: %s\n", finding.status, finding.text.c_str());
  }
  if (s.findings.empty()) std::printf("no problem found\n");
  return s.exitStatus();
}

int runList(const Folder& folder, bool json) {
  std::vector<Record> records;
  const int read = loadRecords(folder, records);
  if (read != EXIT_OK) {
    std::fprintf(stderr, "reskeeperctl: cannot read %s\n", preferenceFilePath(folder).c_str());
    return read;
  }
  const std::string me = currentUser().name;
  if (json) {
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
  if (records.empty()) std::fprintf(stderr, "reskeeperctl: no user is kept yet\n");
  return EXIT_OK;
}

int runModes() {
  std::vector<Mode> modes;
  if (!listModes(modes)) {
    std::fprintf(stderr, "reskeeperctl: the display cannot be reached\n");
    return EXIT_FAILED;
  }
  for (const Mode& mode : modes) {
    std::string rates;
    for (const std::int32_t hz : mode.refreshRates) rates += " " + std::to_string(hz);
    std::printf("%s %-11s%s%s\n", mode.present ? "*" : " ", sizeText(mode.size).c_str(),
                rates.c_str(), rates.empty() ? "" : " Hz");
  }
  return EXIT_OK;
}

int runSet(const Folder& folder, const SetRequest& request) {
  const SetOutcome outcome = setResolution(folder, request, [](const std::string& line) {
    std::fprintf(stderr, "reskeeperctl: %s\n", line.c_str());
  });
  std::fprintf(stderr, "reskeeperctl: %s\n", outcome.message.c_str());
  return outcome.status;
}

}  // namespace

int main(int argc, char** argv) {
  std::string verb;
  std::vector<std::string> operands;
  std::string folderOption;
  bool folderGiven = false;
  bool help = false;
  bool json = false;
  bool force = false;
  SetRequest request;
  std::vector<std::string> options;  // the verb-specific options seen, to check against the verb
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      hasValue = true;
    }
    const auto takeValue = [&](std::string& into) {
      if (hasValue) {
        into = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      std::printf("reskeeperctl %s\n", RESKEEPER_VERSION);
      return EXIT_OK;
    } else if (arg == "--folder") {
      if (!takeValue(folderOption) || folderOption.empty()) return usage("--folder needs a folder");
      folderGiven = true;
    } else if (arg == "--user") {
      if (!takeValue(request.user)) return usage("--user needs a name");
      request.userGiven = true;
      options.push_back(arg);
    } else if ((arg == "--json" || arg == "--force") && !hasValue) {
      (arg == "--json" ? json : force) = true;
      options.push_back(arg);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option '" + arg + "'");
    } else if (verb.empty()) {
      verb = arg;
    } else {
      operands.push_back(arg);
    }
  }
  if (!verb.empty() && verb != "status" && verb != "list" && verb != "modes" && verb != "set") {
    return usage("unknown verb '" + verb + "'");
  }
  if (help) {
    for (const VerbHelp& h : VERB_HELP) {
      if (verb == h.verb) {
        std::fputs(h.text, stdout);
        return EXIT_OK;
      }
    }
    std::fputs(GENERAL_HELP, stdout);
    return EXIT_OK;
  }
  if (verb.empty()) return usage("no verb given (status, list, modes or set)");
  for (const std::string& option : options) {
    const bool fits = (option == "--json" && verb == "list") ||
                      ((option == "--user" || option == "--force") && verb == "set");
    if (!fits) return usage(option + " does not go with " + verb);
  }
  if (verb == "set") {
    if (operands.size() != 1) return usage("set takes one size, WIDTHxHEIGHT");
    std::string error;
    if (!parseSize(operands[0], request.size, error)) return usage(error);
    if (request.userGiven && !fitsGroupHeader(request.user)) {
      return usage("the user name '" + displayName(request.user) +
                   "' holds ], CR or LF, which a group header cannot hold");
    }
    request.force = force;
  } else if (!operands.empty()) {
    return usage(verb + " takes no operand '" + operands[0] + "'");
  }

  const Folder folder = chooseFolder(folderGiven ? folderOption : std::string());
  if (verb == "status") return runStatus(folder);
  if (verb == "list") return runList(folder, json);
  if (verb == "modes") return runModes();
  return runSet(folder, request);
}
