// The table behind the program's help, its option parser and its manual
// page (cli/command_help.def), through the parser that getopt_long runs and
// the help the program prints.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_help.h"
#include "cli/command_line.h"

namespace {

// Parses args as the arguments after the command's name.
int Parse(CommandLine* line, std::vector<std::string> args) {
  args.insert(args.begin(), line->help().name);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return line->Parse(static_cast<int>(args.size()) - 1, argv.data() + 1);
}

TEST(CommandHelpTest, EveryOptionTheParserTakesIsInTheHelpAndUsage) {
  ASSERT_GE(AllCommandHelp().size(), 9u);
  for (const CommandHelp& command : AllCommandHelp()) {
    const std::string help = FormatCommandHelp(command);
    const std::string usage = FormatUsage(command);
    EXPECT_EQ(help.compare(0, usage.size(), usage), 0) << command.name;
    for (const HelpOption& option : command.options) {
      const std::string flag = std::string("--") + option.name;
      CommandLine line(command.name);
      std::vector<std::string> args = {flag};
      if (option.takes_value()) args.push_back("7");
      EXPECT_EQ(Parse(&line, args), -1) << command.name << " " << flag;
      EXPECT_TRUE(line.Has(option.name)) << command.name << " " << flag;
      if (option.takes_value()) {
        EXPECT_STREQ(line.Value(option.name), "7");
      }
      // In the usage with its value's name (bracketed, or as a form that
      // requires it names it), and at the head of a line of the option list.
      std::string shown = flag + (option.takes_value() ? std::string(" ") + option.argument : "");
      EXPECT_TRUE(usage.find("[" + shown + "]") != std::string::npos ||
                  usage.find(" " + shown) != std::string::npos)
          << command.name << ": " << shown;
      EXPECT_NE(help.find("\n  " + shown + " "), std::string::npos)
          << command.name << ": " << shown;
    }
    // And nothing else: a name the table does not give is refused.
    CommandLine line(command.name);
    EXPECT_EQ(Parse(&line, {"--not-in-the-table"}), 2) << command.name;
  }
}

// A usage line shows each option once: a form that names one itself
// ("--clean [--dir DIR]") is not followed by it again.
TEST(CommandHelpTest, EachUsageLineNamesAnOptionOnce) {
  for (const CommandHelp& command : AllCommandHelp()) {
    const std::string usage = FormatUsage(command);
    const std::string head = std::string("filedist ") + command.name;
    std::vector<std::string> lines;
    for (size_t at = usage.find(head); at != std::string::npos;) {
      size_t next = usage.find(head, at + 1);
      lines.push_back(usage.substr(at, next == std::string::npos ? next : next - at));
      at = next;
    }
    EXPECT_EQ(lines.size(), command.forms.size()) << usage;
    for (const std::string& line : lines) {
      for (const HelpOption& option : command.options) {
        const std::string flag = std::string("--") + option.name;
        int seen = 0;
        for (size_t at = line.find(flag); at != std::string::npos; at = line.find(flag, at + 1)) {
          size_t end = at + flag.size();
          if (end == line.size() || line[end] == ' ' || line[end] == ']' || line[end] == '\n') {
            ++seen;
          }
        }
        EXPECT_LE(seen, 1) << command.name << " " << flag << " in\n" << line;
      }
    }
  }
}

// getopt_long takes the first of two entries of one name and reads every
// abbreviation of it as ambiguous: a second declaration, or one of the
// parser's own --help, would silently break an option.
TEST(CommandHelpTest, OptionNamesAreUniqueWithinACommand) {
  for (const CommandHelp& command : AllCommandHelp()) {
    std::set<std::string> names = {"help"};
    for (const HelpOption& option : command.options) {
      EXPECT_TRUE(names.insert(option.name).second) << command.name << " --" << option.name;
      EXPECT_NE(option.text[0], '\0') << command.name << " --" << option.name;
    }
  }
}

TEST(CommandHelpTest, HelpFitsAnEightyColumnTerminal) {
  std::vector<std::string> texts = {FormatProgramHelp()};
  for (const CommandHelp& command : AllCommandHelp()) texts.push_back(FormatCommandHelp(command));
  for (const std::string& text : texts) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      EXPECT_LE(line.size(), kHelpWidth) << line;
      EXPECT_TRUE(line.empty() || line.back() != ' ') << "[" << line << "]";
    }
  }
}

// Every command says what its exit statuses mean, usage errors included.
TEST(CommandHelpTest, EveryCommandHasAUsageAndItsExitStatuses) {
  for (const CommandHelp& command : AllCommandHelp()) {
    EXPECT_FALSE(command.forms.empty()) << command.name;
    const std::string help = FormatCommandHelp(command);
    for (const char* status : {"\n  0  ", "\n  1  ", "\n  2  "}) {
      EXPECT_NE(help.find(status), std::string::npos) << command.name << ": " << status;
    }
  }
}

}  // namespace
