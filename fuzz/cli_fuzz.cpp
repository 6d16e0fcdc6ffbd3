// reskeeperctl's command line and sizes: any arguments are read without a crash into either one
// problem line or an invocation its verb can run, with only the options that verb takes, the
// operands it takes, and for set a size that parseSize gives for its operand; any text either
// reads as a size within the bounds, written back as that same text without leading zeros, or
// gives a reason that quotes it.
#include <cstdint>
#include <string>
#include <vector>

#include "ctl/command_line.h"
#include "fuzz/fuzz_file.h"

namespace {

using fuzzing::check;

void checkSize(const std::string& text) {
  ctl::Size size;
  std::string error;
  if (!ctl::parseSize(text, size, error)) {
    check(error.rfind("'" + ctl::displayName(text) + "' ", 0) == 0,
          "a refused size is quoted in its reason, shown as a name is");
    return;
  }
  check(size.width >= 1 && size.width <= ctl::MAX_DIMENSION && size.height >= 1 &&
            size.height <= ctl::MAX_DIMENSION,
        "a size read is within the bounds");
  std::string digits;
  for (const char c : text) digits += c == 'X' ? 'x' : c;
  const std::size_t x = digits.find('x');
  const auto bare = [](std::string part) {
    part.erase(0, part.find_first_not_of('0'));
    return part;
  };
  check(bare(digits.substr(0, x)) + "x" + bare(digits.substr(x + 1)) == ctl::sizeText(size),
        "a size read is the text's numbers");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments are separated by zero bytes, as in a process's command line.
  std::vector<std::string> arguments(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back() += static_cast<char>(data[i]);
    }
  }
  if (size == 0) arguments.clear();
  for (const std::string& argument : arguments) checkSize(argument);

  const ctl::cli::Parsed parsed = ctl::cli::parseCommandLine(arguments);
  const ctl::cli::Invocation& invocation = parsed.invocation;
  if (!parsed.problem.empty()) {
    for (const char c : parsed.problem) {
      check(c >= 0x20 && c < 0x7F, "a problem is one line of plain text");
    }
    return 0;
  }
  const std::string help = ctl::cli::helpText(invocation.verb);
  check(!help.empty() && help.back() == '\n', "every help ends its last line");
  if (invocation.help || invocation.version) return 0;
  check(invocation.verb != nullptr, "an invocation without help or version has a verb");
  const ctl::cli::Verb& verb = *invocation.verb;
  check((invocation.options & ~verb.options) == 0, "only the verb's own options");
  check(invocation.operands.size() == verb.operandCount, "the verb's own operands");
  if (std::string(verb.name) == "set") {
    ctl::Size read;
    std::string error;
    check(ctl::parseSize(invocation.operands[0], read, error) && read == invocation.size,
          "set runs with the size of its operand");
    check((invocation.options & ctl::cli::OPTION_USER) == 0 || invocation.user.empty() ||
              ctl::canKeepSizeFor(invocation.user),
          "set runs only for a name the keeper can keep");
  }
  return 0;
}
