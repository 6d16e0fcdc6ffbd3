// reskeeperctl's command line: its verbs and options in one table each, read into an invocation
// that a verb's handler runs. Reading the command line changes nothing and asks the system
// nothing, so that every usage error comes before any work.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ctl/ctl.h"

namespace ctl::cli {

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
