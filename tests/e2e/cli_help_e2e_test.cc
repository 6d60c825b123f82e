// The program's help and its manual page against the table they both come
// from (cli/command_help.def), read here with macros of the test's own: every
// option of every command is taken by the program, shown by its --help and
// described, in the same words, under that command in the page, which roff
// renders without a warning.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

struct TableOption {
  std::string name;
  std::string argument;
  std::string text;
};

struct TableCommand {
  std::string name;
  std::string summary;
  std::vector<TableOption> options;
};

std::vector<TableCommand> ReadTable() {
  std::vector<TableCommand> commands;
  bool in_sections = false;
  auto command = [&](const char* name, const char* summary) {
    commands.push_back(TableCommand{name, summary, {}});
  };
  auto option = [&](const char* name, const char* argument, const char* text) {
    if (!in_sections) commands.back().options.push_back(TableOption{name, argument, text});
  };
#define FILEDIST_PROGRAM_TEXT(text)
#define FILEDIST_COMMAND(name, summary) command(name, summary);
#define FILEDIST_FORM(operands)
#define FILEDIST_TEXT(text)
#define FILEDIST_EXAMPLE(lines)
#define FILEDIST_OPTION(name, argument, text) option(name, argument, text);
#define FILEDIST_EXIT(status, meaning)
#define FILEDIST_SECTION(title) in_sections = true;
#define FILEDIST_ENTRY(term, text)
#include "cli/command_help.def"
  return commands;
}

std::string Squeeze(const std::string& text) {
  std::istringstream words(text);
  std::string out, word;
  while (words >> word) out += (out.empty() ? "" : " ") + word;
  return out;
}

class CliHelpTest : public ::testing::Test {
 protected:
  CliHelpTest() : filedist_(testing_support::CopyProgramInto("filedist", scratch_.path())) {}

  int Run(std::vector<std::string> args, std::string* output) {
    args.insert(args.begin(), filedist_);
    return testing_support::Run(args, output);
  }

  testing_support::ScratchDir scratch_;
  std::string filedist_;
  std::vector<TableCommand> table_ = ReadTable();
};

TEST_F(CliHelpTest, EveryOptionIsTakenAndShownByItsCommand) {
  ASSERT_GE(table_.size(), 9u);
  std::string program_help;
  ASSERT_EQ(Run({"--help"}, &program_help), 0);
  for (const TableCommand& command : table_) {
    EXPECT_NE(program_help.find("  " + command.name + " "), std::string::npos) << command.name;
    EXPECT_NE(program_help.find(command.summary), std::string::npos) << command.name;
    std::string help;
    ASSERT_EQ(Run({command.name, "--help"}, &help), 0) << command.name;
    const std::string squeezed = Squeeze(help);
    for (const TableOption& option : command.options) {
      const std::string flag = "--" + option.name;
      std::string shown = flag + (option.argument.empty() ? "" : " " + option.argument);
      // Bracketed, or named by a usage form that requires it.
      EXPECT_TRUE(help.find("[" + shown + "]") != std::string::npos ||
                  help.find(" " + shown + " ") != std::string::npos)
          << command.name << ": " << shown;
      EXPECT_NE(squeezed.find(shown + " " + Squeeze(option.text)), std::string::npos)
          << command.name << ": " << shown << "\n"
          << help;
      // Taken by the parser: whatever the command then makes of it (a
      // missing operand, a file that is not there), never an unknown option.
      std::vector<std::string> args = {command.name, flag};
      if (!option.argument.empty()) args.push_back("1");
      std::string output;
      Run(args, &output);
      EXPECT_EQ(output.find("unknown option"), std::string::npos)
          << command.name << " " << flag << ": " << output;
    }
  }
}

#ifdef FILEDIST_MAN_PAGE
// The page's text for roff's escapes: "\-" a hyphen-minus, "\e" a backslash,
// "\&" nothing, font changes nothing.
std::string Unroff(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char next = text[++i];
    if (next == '-')
      out += '-';
    else if (next == 'e')
      out += '\\';
    else if (next == 'f' && i + 1 < text.size())
      ++i;  // \fB, \fI, \fR
    // "\&" and anything else: nothing
  }
  return out;
}

// The page's section of each command: from its .SS line to the next
// section's.
std::map<std::string, std::vector<std::string>> CommandSections(const std::string& page) {
  std::map<std::string, std::vector<std::string>> sections;
  std::vector<std::string>* current = nullptr;
  for (const std::string& line : testing_support::SplitLines(page)) {
    const std::string lead = ".SS \"filedist ";
    if (line.compare(0, lead.size(), lead) == 0) {
      current = &sections[line.substr(lead.size(), line.size() - lead.size() - 1)];
    } else if (line.compare(0, 4, ".SH ") == 0 || line.compare(0, 4, ".SS ") == 0) {
      current = nullptr;
    } else if (current != nullptr) {
      current->push_back(line);
    }
  }
  return sections;
}

TEST_F(CliHelpTest, ManualPageDescribesEveryOptionUnderItsCommand) {
  const std::string page = testing_support::ReadFileBytes(FILEDIST_MAN_PAGE);
  ASSERT_FALSE(page.empty()) << FILEDIST_MAN_PAGE;
  std::map<std::string, std::vector<std::string>> sections = CommandSections(page);
  EXPECT_EQ(sections.size(), table_.size());
  for (const TableCommand& command : table_) {
    ASSERT_EQ(sections.count(command.name), 1u) << command.name;
    const std::vector<std::string>& lines = sections[command.name];
    for (const TableOption& option : command.options) {
      // ".TP", the option and its value's name, then its text up to the
      // next request.
      std::string shown =
          "--" + option.name + (option.argument.empty() ? "" : " " + option.argument);
      std::string described;
      for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != ".TP" || Unroff(lines[i + 1]) != shown) continue;
        for (size_t j = i + 2; j < lines.size() && lines[j][0] != '.'; ++j) {
          described += Unroff(lines[j]) + " ";
        }
      }
      EXPECT_EQ(Squeeze(described), Squeeze(option.text)) << command.name << ": " << shown;
    }
  }
}

// -ww turns on every warning; -z reads the page without printing it, so all
// that is said is a warning or an error.
TEST_F(CliHelpTest, ManualPageRendersWithoutWarnings) {
#  ifndef FILEDIST_GROFF
  FAIL() << "groff was not found when the build was configured (scripts/install_deps.sh "
            "installs groff-base)";
#  else
  std::string output;
  ASSERT_EQ(testing_support::Run({FILEDIST_GROFF, "-man", "-Tutf8", "-ww", "-z", FILEDIST_MAN_PAGE},
                                 &output),
            0)
      << output;
  EXPECT_EQ(output, "");
  // The rendered page names every command's options as typed.
  ASSERT_EQ(
      testing_support::Run(
          {FILEDIST_GROFF, "-man", "-Tutf8", "-P-c", "-P-b", "-P-u", FILEDIST_MAN_PAGE}, &output),
      0)
      << output;
  for (const TableCommand& command : table_) {
    EXPECT_NE(output.find("filedist " + command.name), std::string::npos) << command.name;
    for (const TableOption& option : command.options) {
      EXPECT_NE(output.find("--" + option.name), std::string::npos) << option.name;
    }
  }
#  endif
}
#endif

}  // namespace
