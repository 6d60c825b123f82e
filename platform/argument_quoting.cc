#include "platform/argument_quoting.h"

namespace plat {

std::string QuoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there each stands for half of
    // a pair, and one more escapes the quote itself.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

std::string WindowsCommandLine(const std::vector<std::string>& argv) {
  std::string command_line;
  for (const std::string& arg : argv) {
    if (!command_line.empty()) command_line.push_back(' ');
    command_line += QuoteWindowsArgument(arg);
  }
  return command_line;
}

}  // namespace plat
