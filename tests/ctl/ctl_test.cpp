// The parts of reskeeperctl that ask the system nothing: sizes, the choice of folder, names and
// JSON as shown, the order of exit statuses, and the command line against the verb table.
#include "ctl/ctl.h"

#include <gtest/gtest.h>

#include "ctl/command_line.h"
#include "ctl/json.h"

namespace {

using ctl::FolderSource;
using ctl::Layout;

TEST(Sizes, OnlyWholePositiveSizesUpToTheLargestScreenAreRead) {
  const struct {
    const char* text;
    ctl::Size size;  // {0, 0}: refused
  } cases[] = {
      {"1920x1080", {1920, 1080}},
      {"800X600", {800, 600}},
      {"1x32767", {1, 32767}},
      {"0x768", {}},
      {"32768x1", {}},
      {"1920", {}},
      {"x1080", {}},
      {"1920x", {}},
      {"1920x1080x", {}},
      {"-5x5", {}},
      {"+5x5", {}},
      {" 5x5", {}},
      {"0001920x1080", {1920, 1080}},
      {"9999999999x1", {}},
      {"99999999999999999999x1", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    ctl::Size size;
    std::string error;
    const bool read = ctl::parseSize(c.text, size, error);
    EXPECT_EQ(read, c.size != ctl::Size{}) << c.text << ": " << error;
    if (read) {
      EXPECT_EQ(size, c.size) << c.text;
    } else {
      EXPECT_NE(error.find("'" + ctl::displayName(c.text) + "'"), std::string::npos) << error;
    }
  }
}

TEST(Folders, TheOptionThenTheCurrentFolderThenTheLayoutsOwn) {
  const auto facts = [](std::string option, bool here, Layout layout, std::string user,
                        bool elevated = false) {
    ctl::FolderFacts f;
    f.elevated = elevated;
    f.option = option;
    f.current = "/work";
    f.currentHasFile = here;
    f.layout = layout;
    f.sharedFolder = "C:\\ProgramData\\reskeeper";
    f.userFolder = user;
    return f;
  };
  const struct {
    ctl::FolderFacts facts;
    std::string path;
    FolderSource source;
  } cases[] = {
      {facts("other", true, Layout::Shared, "/u"), "/work/other", FolderSource::Option},
      {facts("C:\\x", true, Layout::Shared, "/u"), "C:\\x", FolderSource::Option},
      {facts("\\\\server\\share\\x", true, Layout::Shared, "/u"), "\\\\server\\share\\x",
       FolderSource::Option},
      {facts("\\\\?\\C:\\x", true, Layout::Shared, "/u"), "\\\\?\\C:\\x", FolderSource::Option},
      {facts("", true, Layout::PerUser, "/u"), "/work", FolderSource::CurrentFolder},
      {facts("", false, Layout::PerUser, "/u"), "/u", FolderSource::UserDefault},
      {facts("", false, Layout::PerUser, ""), "/work", FolderSource::Fallback},
      {facts("", false, Layout::Shared, "/u"), "C:\\ProgramData\\reskeeper",
       FolderSource::Installed},
      {facts("", false, Layout::NotInstalled, "/u"), "/work", FolderSource::Fallback},
      // Elevated, the current folder is taken only when named.
      {facts("", true, Layout::PerUser, "/u", true), "/u", FolderSource::UserDefault},
      {facts("", true, Layout::Shared, "/u", true), "C:\\ProgramData\\reskeeper",
       FolderSource::Installed},
      {facts("", true, Layout::NotInstalled, "/u", true), "", FolderSource::NotChosen},
      {facts(".", true, Layout::NotInstalled, "/u", true), "/work/.", FolderSource::Option},
  };
  for (const auto& c : cases) {
    const ctl::Folder folder = ctl::chooseFolderFrom(c.facts);
    EXPECT_EQ(folder.path, c.path);
    EXPECT_EQ(folder.source, c.source) << c.path;
    EXPECT_EQ(folder.layout, c.facts.layout);
  }
  EXPECT_EQ(ctl::preferenceFilePath(
                ctl::chooseFolderFrom(facts("", true, Layout::NotInstalled, "/u", true))),
            "");
}

TEST(Names, ShownAndWrittenSoThatEveryByteCanBeToldApart) {
  EXPECT_EQ(ctl::displayName("alice"), "alice");
  EXPECT_EQ(ctl::displayName("J\xFCrgen\\\t"), "J\\xFCrgen\\x5C\\x09");
  EXPECT_EQ(ctl::displayName(std::string(255, ' ')), "(255 spaces)");
  EXPECT_EQ(ctl::displayName(""), "(empty)");
  EXPECT_EQ(ctl::displayName(std::string("\0\x1F\x7F", 3)), "\\x00\\x1F\\x7F");
  EXPECT_EQ(ctl::jsonString(std::string("q\"b\\\x01\x7F\xE9", 7)),
            "\"q\\\"b\\\\\\u0001\\u007f\xC3\xA9\"");
  EXPECT_FALSE(ctl::canKeepSizeFor(std::string("a\0b", 3)));
  EXPECT_FALSE(ctl::canKeepSizeFor("a]b"));
  EXPECT_TRUE(ctl::canKeepSizeFor("a[b"));
}

TEST(Status, TheLowestProblemIsTheExitStatus) {
  using ctl::Problem;
  using namespace ctl::cli;
  ctl::StatusReport report;
  EXPECT_EQ(exitStatus(report), EXIT_OK);
  report.findings = {{Problem::NoKeeper, ""}, {Problem::Unwritable, ""}, {Problem::NoDisplay, ""}};
  EXPECT_EQ(exitStatus(report), EXIT_UNWRITABLE);
  // A report lists its problems in the order of their kinds, so their statuses never fall.
  for (int kind = static_cast<int>(Problem::Unreadable);
       kind <= static_cast<int>(Problem::NoDisplay); ++kind) {
    EXPECT_LE(exitStatus(static_cast<Problem>(kind - 1)), exitStatus(static_cast<Problem>(kind)));
  }
  for (std::size_t i = 0; i < EXIT_MEANING_COUNT; ++i) {
    EXPECT_EQ(EXIT_MEANINGS[i].status, static_cast<int>(i)) << "every status, in order";
  }
}

TEST(CommandLine, EveryVerbAndOptionByTheTable) {
  const struct {
    std::vector<std::string> arguments;
    const char* verb;     // nullptr: none
    const char* problem;  // a part of the one line of a usage error, or "" for none
  } cases[] = {
      {{"status"}, "status", ""},
      {{"--folder", "/x", "status", "--json"}, "status", ""},
      {{"--folder=/x", "list"}, "list", ""},
      {{"modes", "--json"}, "modes", ""},
      {{"set", "--user", "kiosk", "1280x1024", "--force"}, "set", ""},
      {{"set", "--user=", "1280x1024"}, "set", ""},
      {{"set", "--help"}, "set", ""},
      {{"--help"}, nullptr, ""},
      {{"--version"}, nullptr, ""},
      {{}, nullptr, "no verb given (status, list, modes or set)"},
      {{"bogus"}, nullptr, "unknown verb 'bogus'"},
      {{"set"}, "set", "set takes one WIDTHxHEIGHT"},
      {{"set", "1920"}, "set", "'1920' is not a size"},
      {{"set", "-5x5"}, nullptr, "unknown option '-5x5'"},
      {{"set", "800x600", "900x700"}, "set", "set takes one"},
      {{"set", "--user", "a]b", "800x600"}, "set", "holds ], CR or LF"},
      {{"status", "--frobnicate"}, nullptr, "unknown option '--frobnicate'"},
      {{"list", "--force"}, "list", "--force does not go with list"},
      {{"status", "extra"}, "status", "status takes no operand 'extra'"},
      {{"--folder"}, nullptr, "--folder needs a folder"},
      {{"--folder="}, nullptr, "--folder needs a folder"},
      {{"--json=yes", "list"}, nullptr, "'--json' takes no value"},
      {{"--help=x"}, nullptr, "'--help' takes no value"},
      {{"--version=x"}, nullptr, "'--version' takes no value"},
      {{"set", "--confirm=300", "--yes", "800x600"}, "set", ""},
      {{"set", "--confirm", "301", "800x600"}, "set", "--confirm takes a number of seconds"},
      {{"set", "--confirm", "x", "800x600"}, "set", "--confirm takes a number of seconds"},
      {{"set", "--confirm", "99999999999999999999", "800x600"}, "set", "--confirm takes"},
      {{"set", "99999999999999999999x1"}, "set", "is not a size"},
      {{"status", "--yes"}, "status", "--yes does not go with status"},
      {{"a\nb"}, nullptr, "unknown verb 'a\\x0Ab'"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& argument : c.arguments) shown += argument + " ";
    SCOPED_TRACE(shown);
    const ctl::cli::Parsed parsed = ctl::cli::parseCommandLine(c.arguments);
    if (*c.problem == '\0') {
      EXPECT_EQ(parsed.problem, "");
    } else {
      EXPECT_NE(parsed.problem.find(c.problem), std::string::npos) << parsed.problem;
    }
    if (parsed.problem.empty() || parsed.invocation.verb != nullptr) {
      EXPECT_STREQ(parsed.invocation.verb ? parsed.invocation.verb->name : nullptr, c.verb);
    }
  }
  const std::string help = ctl::cli::helpText(nullptr);
  for (std::size_t i = 0; i < ctl::cli::VERB_COUNT; ++i) {
    EXPECT_NE(help.find(std::string("  ") + ctl::cli::VERBS[i].name), std::string::npos);
  }
  EXPECT_NE(help.find("11 the keeper wrote over the size"), std::string::npos) << help;
}

}  // namespace
