// Reading reskeeperctl's command line against its tables.
#include "ctl/command_line.h"

#include <cstring>

namespace ctl::cli {
namespace {

// An argument quoted in a problem line, every byte that would not show as itself spelt out, so
// that the line stays one line of plain text.
std::string quoted(const std::string& argument) {
  return "'" + displayName(argument) + "'";
}

const Option* findOption(const std::string& name) {
  for (std::size_t i = 0; i < OPTION_COUNT; ++i) {
    if (name == OPTIONS[i].name) return &OPTIONS[i];
  }
  return nullptr;
}

const Verb* findVerb(const std::string& name) {
  for (std::size_t i = 0; i < VERB_COUNT; ++i) {
    if (name == VERBS[i].name) return &VERBS[i];
  }
  return nullptr;
}

std::string verbList() {
  std::string names;
  for (std::size_t i = 0; i < VERB_COUNT; ++i) {
    names += (i == 0 ? "" : i + 1 == VERB_COUNT ? " or " : ", ") + std::string(VERBS[i].name);
  }
  return names;
}

// A verb's usage line: "reskeeperctl set [--user NAME] [--force] WIDTHxHEIGHT".
std::string usageLine(const Verb& verb) {
  std::string line = std::string("reskeeperctl [--folder DIR] ") + verb.name;
  for (std::size_t i = 0; i < OPTION_COUNT; ++i) {
    const Option& option = OPTIONS[i];
    if (option.bit == 0 || (verb.options & option.bit) == 0) continue;
    line += std::string(" [") + option.name +
            (option.value ? std::string(" ") + option.value : "") + "]";
  }
  if (*verb.operands != '\0') line += std::string(" ") + verb.operands;
  return line;
}

}  // namespace

Parsed parseCommandLine(const std::vector<std::string>& arguments) {
  Parsed parsed;
  Invocation& invocation = parsed.invocation;
  const auto refuse = [&](const std::string& problem) {
    parsed.problem = problem;
    return parsed;
  };
  std::string verbName;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    if (argument == "-h") argument = "--help";
    if (argument.size() < 2 || argument[0] != '-') {
      if (verbName.empty()) {
        verbName = argument;
      } else {
        invocation.operands.push_back(argument);
      }
      continue;
    }
    std::string value;
    bool inline_value = false;
    if (const std::size_t equals = argument.find('=');
        argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = argument.substr(equals + 1);
      argument.resize(equals);
      inline_value = true;
    }
    if (argument == "--help" || argument == "--version") {
      if (inline_value) return refuse(quoted(argument) + " takes no value");
      (argument == "--help" ? invocation.help : invocation.version) = true;
      continue;
    }
    const Option* option = findOption(argument);
    if (option == nullptr) return refuse("unknown option " + quoted(argument));
    if (option->value == nullptr) {
      if (inline_value) return refuse(quoted(argument) + " takes no value");
    } else if (!inline_value) {
      if (i + 1 >= arguments.size()) {
        return refuse(argument + " needs " +
                      (option->bit == 0                ? "a folder"
                       : option->bit == OPTION_CONFIRM ? "a number of seconds"
                                                       : "a name"));
      }
      value = arguments[++i];
    }
    if (option->bit == 0) {
      if (value.empty()) return refuse(argument + " needs a folder");
      invocation.folder = value;
    } else {
      invocation.options |= option->bit;
      if (option->bit == OPTION_USER) invocation.user = value;
      if (option->bit == OPTION_CONFIRM) invocation.confirm = value;
    }
  }
  if (invocation.version) return parsed;
  if (!verbName.empty()) {
    invocation.verb = findVerb(verbName);
    if (invocation.verb == nullptr) return refuse("unknown verb " + quoted(verbName));
  }
  if (invocation.help) return parsed;
  if (invocation.verb == nullptr) return refuse("no verb given (" + verbList() + ")");
  const Verb& verb = *invocation.verb;
  for (std::size_t i = 0; i < OPTION_COUNT; ++i) {
    const unsigned bit = OPTIONS[i].bit;
    if ((invocation.options & bit) != 0 && (verb.options & bit) == 0) {
      return refuse(std::string(OPTIONS[i].name) + " does not go with " + verb.name);
    }
  }
  if (invocation.operands.size() != verb.operandCount) {
    if (verb.operandCount == 0) {
      return refuse(std::string(verb.name) + " takes no operand " + quoted(invocation.operands[0]));
    }
    return refuse(std::string(verb.name) + " takes one " + verb.operands);
  }
  if (verb.check != nullptr) parsed.problem = verb.check(invocation);
  return parsed;
}

std::string helpText(const Verb* verb) {
  if (verb != nullptr) return "usage: " + usageLine(*verb) + "\n" + verb->help;
  std::string text = "usage: reskeeperctl [--folder DIR] VERB [OPTIONS]\n\n";
  for (std::size_t i = 0; i < VERB_COUNT; ++i) {
    text += "  " + usageLine(VERBS[i]).substr(std::strlen("reskeeperctl [--folder DIR] ")) + "\n";
    text += std::string("      ") + VERBS[i].summary + "\n";
  }
  text += "\n";
  for (std::size_t i = 0; i < OPTION_COUNT; ++i) {
    const Option& option = OPTIONS[i];
    std::string name =
        std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
    name.resize(name.size() < 14 ? 14 : name.size() + 1, ' ');
    text += "  " + name + " " + option.help + "\n";
  }
  text += "  --help         this text, or a verb's with VERB --help\n";
  text += "  --version      the version\n\n";
  std::string line = "Exit statuses:";
  for (std::size_t i = 0; i < EXIT_MEANING_COUNT; ++i) {
    const std::string item = std::to_string(EXIT_MEANINGS[i].status) + " " +
                             EXIT_MEANINGS[i].words + (i + 1 < EXIT_MEANING_COUNT ? "," : ".");
    if (line.size() + 1 + item.size() > 92) {
      text += line + "\n";
      line = item;
    } else {
      line += " " + item;
    }
  }
  return text + line + " See reskeeperctl(1).\n";
}

}  // namespace ctl::cli
