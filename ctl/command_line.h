// reskeeperctl's command line: its verbs and options in one table each, read into an invocation
// that a verb's handler runs. Reading the command line changes nothing and asks the system
// nothing, so that every usage error comes before any work.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ctl/ctl.h"

namespace ctl::cli {

// The exit statuses of reskeeperctl. A lower status is the more fundamental problem: status
// exits with the lowest it found.
enum Exit : int {
  EXIT_OK = 0,
  EXIT_FAILED = 1,          // the operation failed for another reason
  EXIT_USAGE = 2,           // bad input; nothing changed
  EXIT_NO_FILE = 3,         // no Data/Pref.txt in the folder
  EXIT_UNREADABLE = 4,      // the file cannot be read, or stayed held past the bounded wait
  EXIT_UNWRITABLE = 5,      // this user cannot write the file
  EXIT_USERNAME_UNSET = 6,  // USERNAME unset: the keeper keeps the size under 255 spaces
  EXIT_USERNAME_EMPTY = 7,  // USERNAME empty: the keeper never reads a kept size back
  EXIT_NOT_A_MODE = 8,      // the record is not a mode of this display / set refused a size
  EXIT_NO_KEEPER = 9,       // no keeper runs in this session
  EXIT_NO_DISPLAY = 10,     // the display cannot be reached or its size cannot be told
  EXIT_DID_NOT_STAY = 11,   // set: stored, but the keeper wrote over it every time
  EXIT_RETURNED = 12,       // set: the new size was not kept; the one before came back
};

// Each exit status with its meaning in a few words, in order, for help texts and checks.
struct ExitMeaning {
  Exit status;
  const char* words;
};
extern const ExitMeaning EXIT_MEANINGS[];
extern const std::size_t EXIT_MEANING_COUNT;

// The exit status of each result the library gives (exits.cpp, one table for all).
Exit exitStatus(Problem problem);
Exit exitStatus(SetResult result);
Exit exitStatus(FileAccess access);
// The status a report exits with: its lowest problem's, EXIT_OK when it found none.
Exit exitStatus(const StatusReport& report);

// The options a verb may take, as bits.
enum OptionBit : unsigned {
  OPTION_JSON = 1u << 0,
  OPTION_USER = 1u << 1,
  OPTION_FORCE = 1u << 2,
  OPTION_YES = 1u << 3,
  OPTION_CONFIRM = 1u << 4,
};

struct Option {
  const char* name;   // "--json"
  const char* value;  // the value's name for the help ("NAME"), or nullptr: a switch
  unsigned bit;       // 0: taken by every verb (--folder)
  const char* help;   // one line
};

struct Verb;

// What the command line asks for.
struct Invocation {
  const Verb* verb = nullptr;  // nullptr with `help`: the general help
  bool help = false;
  bool version = false;
  std::string folder;    // --folder DIR, or empty
  unsigned options = 0;  // the OptionBit switches and valued options given
  std::string user;      // --user NAME
  std::string confirm;   // --confirm SECONDS, as given
  std::vector<std::string> operands;
  // Filled in by the verb's check.
  Size size;
  int confirmSeconds = CONFIRM_SECONDS;
};

struct Verb {
  const char* name;
  const char* operands;  // as the help shows them ("WIDTHxHEIGHT"), "" for none
  unsigned operandCount;
  unsigned options;     // the OptionBit values it takes
  const char* summary;  // one line for the general help
  const char* help;     // its own help, after its usage line
  // Checks the operands and options beyond their count (nullptr: nothing more); gives a
  // one-line problem, or "" when the invocation can run.
  std::string (*check)(Invocation& invocation);
  // Runs it; gives the exit status.
  int (*run)(const Invocation& invocation);
};

// The tables, in the order the help shows them.
extern const Verb VERBS[];
extern const std::size_t VERB_COUNT;
extern const Option OPTIONS[];
extern const std::size_t OPTION_COUNT;

struct Parsed {
  Invocation invocation;
  std::string problem;  // empty: the command line is good
};

// Reads the arguments after the program's name, options before or after the verb, each option
// as `--name value` or `--name=value`.
Parsed parseCommandLine(const std::vector<std::string>& arguments);

// The general help, or `verb`'s own, made from the tables.
std::string helpText(const Verb* verb);

}  // namespace ctl::cli
