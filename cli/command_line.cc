#include "cli/command_line.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// getopt_long's answers for our own options start above every char.
constexpr int kFirstOptionCode = 0x100;
constexpr int kHelpCode = 'h';

const CommandHelp& HelpOf(const char* command) {
  const CommandHelp* help = FindCommandHelp(command);
  if (help == nullptr) {
    std::fprintf(stderr, "filedist: the command '%s' has no entry in cli/command_help.def\n",
                 command);
    std::abort();
  }
  return *help;
}

}  // namespace

CommandLine::CommandLine(const char* command) : help_(HelpOf(command)) {}

int CommandLine::UsageError(const std::string& reason) const {
  std::fprintf(stderr, "filedist: %s\n%s'filedist %s --help' describes the command.\n",
               reason.c_str(), FormatUsage(help_).c_str(), help_.name);
  return 2;
}

int CommandLine::Parse(int argc, char** argv) {
  std::vector<option> table;
  const std::vector<HelpOption>& specs = help_.options;
  for (size_t i = 0; i < specs.size(); ++i) {
    table.push_back(option{specs[i].name, specs[i].takes_value() ? required_argument : no_argument,
                           nullptr, kFirstOptionCode + static_cast<int>(i)});
  }
  table.push_back(option{"help", no_argument, nullptr, kHelpCode});
  table.push_back(option{nullptr, 0, nullptr, 0});

  // getopt_long wants the program's name first: that is the command's name,
  // just before the arguments we were given. 0 makes it start afresh.
  char** args = argv - 1;
  const int count = argc + 1;
  optind = 0;
  opterr = 0;
  given_.clear();
  operands_.clear();
  for (;;) {
    int code = getopt_long(count, args, ":h", table.data(), nullptr);
    if (code == -1) break;
    if (code == kHelpCode) {
      std::fputs(FormatCommandHelp(help_).c_str(), stdout);
      return 0;
    }
    if (code >= kFirstOptionCode) {
      const HelpOption& spec = specs[static_cast<size_t>(code - kFirstOptionCode)];
      given_.emplace_back(spec.name, optarg != nullptr ? optarg : "");
      continue;
    }
    // What was typed, without a value given with '='.
    std::string typed = optind > 0 && optind <= count ? args[optind - 1] : "";
    typed = typed.substr(0, typed.find('='));
    // Both runtimes name the option in optopt; they differ in whether a value
    // given to a flag returns ':' or '?', so the option itself tells.
    if (optopt >= kFirstOptionCode) {
      const HelpOption& spec = specs[static_cast<size_t>(optopt - kFirstOptionCode)];
      return UsageError("option '" + typed +
                        (spec.takes_value() ? "' needs a value" : "' takes no value"));
    }
    if (code == ':') return UsageError("option '" + typed + "' needs a value");
    if (optopt != 0 && typed.compare(0, 2, "--") != 0) {
      return UsageError(std::string("unknown option '-") + static_cast<char>(optopt) + "'");
    }
    return UsageError("unknown option '" + typed + "'");
  }
  for (int i = optind; i < count; ++i) operands_.emplace_back(args[i]);
  return -1;
}

bool CommandLine::Has(const char* name) const {
  for (const auto& option : given_) {
    if (option.first == name) return true;
  }
  return false;
}

const char* CommandLine::Value(const char* name, const char* fallback) const {
  const char* value = fallback;
  for (const auto& option : given_) {
    if (option.first == name) value = option.second.c_str();
  }
  return value;
}
