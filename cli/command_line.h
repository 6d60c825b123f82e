// One option parser for every filedist command, over getopt_long (glibc's
// natively, the mingw-w64 runtime's on Windows), so that every command
// follows the same conventions: "--opt VALUE" and "--opt=VALUE", options
// before or after the operands, "--" ending the options, -h and --help, an
// unknown option named in the error, and status 2 for every usage error.
#ifndef FILEDIST_CLI_COMMAND_LINE_H
#define FILEDIST_CLI_COMMAND_LINE_H

#include <string>
#include <utility>
#include <vector>

#include "cli/command_help.h"
#include "util/whole_number.h"

// An option's whole number from low to high: digits alone, never wrapped.
using util::ParseCount;

class CommandLine {
 public:
  // The command's options, help and usage are its entry in
  // cli/command_help.def: an option is accepted only when it is declared
  // there. The help is printed for --help (on standard output), the usage
  // lines after a usage error (on standard error). A command missing from
  // the table ends the program: it is a fault of the program, not of its use.
  explicit CommandLine(const char* command);

  // Reads the arguments after the command's name. Returns -1 when the
  // command should go on; otherwise the exit status to return at once: 0
  // after printing the help, 2 after a usage error.
  int Parse(int argc, char** argv);

  // Prints "filedist: reason", the usage lines and where the help is on
  // standard error; returns 2.
  int UsageError(const std::string& reason) const;

  const CommandHelp& help() const { return help_; }

  bool Has(const char* name) const;
  // The value of the last occurrence of name, or fallback.
  const char* Value(const char* name, const char* fallback = nullptr) const;
  const std::vector<std::string>& operands() const { return operands_; }

 private:
  const CommandHelp& help_;
  std::vector<std::pair<std::string, std::string>> given_;  // name, value
  std::vector<std::string> operands_;
};

#endif  // FILEDIST_CLI_COMMAND_LINE_H
