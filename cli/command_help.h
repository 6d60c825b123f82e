// The help of the filedist program and of each command, and each command's
// options, as cli/command_help.def gives them: `filedist --help`, `filedist
// COMMAND --help` and the option table of CommandLine come from that one
// table, as does the manual page (cli/make_man_page.py), so none can name an
// option that another does not.
#ifndef FILEDIST_CLI_COMMAND_HELP_H
#define FILEDIST_CLI_COMMAND_HELP_H

#include <string>
#include <vector>

struct HelpOption {
  const char* name;      // the long name, without "--"
  const char* argument;  // the value's name in the help, "" for a flag
  const char* text;

  bool takes_value() const { return argument[0] != '\0'; }
};

// One entry of the table, in its order; which fields an entry fills is said
// beside each kind in command_help.def.
struct HelpItem {
  enum Kind { kProgramText, kCommand, kForm, kText, kExample, kOption, kExit, kSection, kEntry };
  Kind kind;
  const char* first;
  const char* second;
  const char* third;
};

struct CommandHelp {
  const char* name;
  const char* summary;
  std::vector<const char*> forms;      // the operands of each usage line
  std::vector<HelpOption> options;     // in the table's order
  std::vector<const HelpItem*> items;  // the command's block, in order
};

// Every command of the table, in its order.
const std::vector<CommandHelp>& AllCommandHelp();

// True when the usage form's operands name --name themselves.
bool FormNamesOption(const std::string& form, const char* name);

// The command called name, or nullptr.
const CommandHelp* FindCommandHelp(const char* name);

// The columns help text is filled to: an 80-column terminal's, less the last,
// where some terminals break the line.
constexpr size_t kHelpWidth = 79;

// "usage: filedist NAME ..." and one more line for each further form, with
// every option.
std::string FormatUsage(const CommandHelp& command);

// The whole of `filedist NAME --help`.
std::string FormatCommandHelp(const CommandHelp& command);

// `filedist --help`: the usage, one line per command with its summary, and
// the program's paragraphs.
std::string FormatProgramHelp();

#endif  // FILEDIST_CLI_COMMAND_HELP_H
