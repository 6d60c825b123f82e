// Command lines for Windows programs. A Windows program gets its arguments
// as one string, which its C runtime (or CommandLineToArgvW) splits again;
// an argument survives that only quoted by the same rules. Plain string
// work, the same on every system, so that it is tested everywhere.
#ifndef FILEDIST_PLATFORM_ARGUMENT_QUOTING_H
#define FILEDIST_PLATFORM_ARGUMENT_QUOTING_H

#include <string>
#include <vector>

namespace plat {

// arg as it must stand in a command line to come back whole: unchanged when
// it holds no space, tab or quote and is not empty; otherwise in quotes,
// with every quote escaped and the backslashes before a quote (or before
// the closing quote) doubled.
std::string QuoteWindowsArgument(const std::string& arg);

// The command line that gives a Windows program argv back: each argument
// quoted so, separated by single spaces.
std::string WindowsCommandLine(const std::vector<std::string>& argv);

}  // namespace plat

#endif  // FILEDIST_PLATFORM_ARGUMENT_QUOTING_H
