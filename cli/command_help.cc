#include "cli/command_help.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

const HelpItem kItems[] = {
#define FILEDIST_PROGRAM_TEXT(text) {HelpItem::kProgramText, text, "", ""},
#define FILEDIST_COMMAND(name, summary) {HelpItem::kCommand, name, summary, ""},
#define FILEDIST_FORM(operands) {HelpItem::kForm, operands, "", ""},
#define FILEDIST_TEXT(text) {HelpItem::kText, text, "", ""},
#define FILEDIST_EXAMPLE(lines) {HelpItem::kExample, lines, "", ""},
#define FILEDIST_OPTION(name, argument, text) {HelpItem::kOption, name, argument, text},
#define FILEDIST_EXIT(status, meaning) {HelpItem::kExit, status, meaning, ""},
#define FILEDIST_SECTION(title) {HelpItem::kSection, title, "", ""},
#define FILEDIST_ENTRY(term, text) {HelpItem::kEntry, term, text, ""},
#include "cli/command_help.def"
#undef FILEDIST_PROGRAM_TEXT
#undef FILEDIST_COMMAND
#undef FILEDIST_FORM
#undef FILEDIST_TEXT
#undef FILEDIST_EXAMPLE
#undef FILEDIST_OPTION
#undef FILEDIST_EXIT
#undef FILEDIST_SECTION
#undef FILEDIST_ENTRY
};

// Options whose "--name ARG" is longer than this start their text on a line
// of its own, so that one long name does not push every text to the right.
constexpr size_t kWidestOptionColumn = 18;

std::vector<CommandHelp> CollectCommands() {
  std::vector<CommandHelp> commands;
  for (const HelpItem& item : kItems) {
    if (item.kind == HelpItem::kSection) break;  // the manual page's own sections
    if (item.kind == HelpItem::kCommand) {
      commands.push_back(CommandHelp{item.first, item.second, {}, {}, {}});
      continue;
    }
    if (commands.empty()) continue;  // the program's own paragraphs
    CommandHelp& command = commands.back();
    if (item.kind == HelpItem::kForm) {
      command.forms.push_back(item.first);
    } else {
      if (item.kind == HelpItem::kOption) {
        command.options.push_back(HelpOption{item.first, item.second, item.third});
      }
      command.items.push_back(&item);
    }
  }
  return commands;
}

// words filled into lines of at most kHelpWidth columns: the first line
// starts with first (and a space, unless first is empty or ends in one), the
// others with indent spaces. A word longer than a line gets a line of its own.
std::string Fill(const std::vector<std::string>& words, const std::string& first, size_t indent) {
  std::string out = first;
  size_t column = first.size();
  bool line_empty = first.empty() || first.back() == ' ';
  for (const std::string& word : words) {
    if (!line_empty && column + 1 + word.size() > kHelpWidth) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
      line_empty = true;
    }
    if (!line_empty) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    line_empty = false;
  }
  return out + "\n";
}

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

std::string OptionLabel(const HelpOption& option) {
  std::string label = std::string("--") + option.name;
  if (option.takes_value()) label += std::string(" ") + option.argument;
  return label;
}

std::string FormatOptions(const std::vector<const HelpItem*>& block, size_t column) {
  std::string out;
  for (const HelpItem* item : block) {
    HelpOption option{item->first, item->second, item->third};
    std::string label = "  " + OptionLabel(option);
    if (label.size() + 2 > column) {
      out += label + "\n";
      label = std::string(column, ' ');
    } else {
      label.resize(column, ' ');
    }
    out += Fill(Words(item->third), label, column);
  }
  return out;
}

}  // namespace

const std::vector<CommandHelp>& AllCommandHelp() {
  static const std::vector<CommandHelp> commands = CollectCommands();
  return commands;
}

const CommandHelp* FindCommandHelp(const char* name) {
  for (const CommandHelp& command : AllCommandHelp()) {
    if (std::strcmp(command.name, name) == 0) return &command;
  }
  return nullptr;
}

bool FormNamesOption(const std::string& form, const char* name) {
  const std::string flag = std::string("--") + name;
  for (size_t at = form.find(flag); at != std::string::npos; at = form.find(flag, at + 1)) {
    size_t end = at + flag.size();
    bool starts = at == 0 || form[at - 1] == ' ' || form[at - 1] == '[';
    bool ends = end == form.size() || form[end] == ' ' || form[end] == ']';
    if (starts && ends) return true;
  }
  return false;
}

std::string FormatUsage(const CommandHelp& command) {
  std::string out;
  for (size_t i = 0; i < command.forms.size(); ++i) {
    std::string lead = std::string(i == 0 ? "usage: " : "       ") + "filedist " + command.name;
    std::vector<std::string> pieces;
    if (command.forms[i][0] != '\0') pieces.push_back(command.forms[i]);
    for (const HelpOption& option : command.options) {
      // A form that names the option already shows how it goes there.
      if (FormNamesOption(command.forms[i], option.name)) continue;
      pieces.push_back("[" + OptionLabel(option) + "]");
    }
    out += Fill(pieces, lead, lead.size() + 1);
  }
  return out;
}

std::string FormatCommandHelp(const CommandHelp& command) {
  size_t widest = 0;
  for (const HelpOption& option : command.options) {
    widest = std::max(widest, std::min(OptionLabel(option).size(), kWidestOptionColumn));
  }
  const size_t column = 2 + widest + 2;
  std::vector<std::string> blocks;
  std::vector<const HelpItem*> options;
  std::string exits;
  auto end_options = [&] {
    if (!options.empty()) blocks.push_back(FormatOptions(options, column));
    options.clear();
  };
  for (const HelpItem* item : command.items) {
    if (item->kind != HelpItem::kOption) end_options();
    switch (item->kind) {
      case HelpItem::kOption:
        options.push_back(item);
        break;
      case HelpItem::kText:
        blocks.push_back(Fill(Words(item->first), "", 0));
        break;
      case HelpItem::kExample: {
        std::string example;
        std::istringstream lines(item->first);
        std::string line;
        while (std::getline(lines, line)) example += "  " + line + "\n";
        blocks.push_back(example);
        break;
      }
      case HelpItem::kExit:
        // Continued lines line up with the meaning, whatever the status's width.
        exits += Fill(Words(item->second), std::string("  ") + item->first + "  ",
                      std::string(item->first).size() + 4);
        break;
      default:
        break;
    }
  }
  end_options();
  if (!exits.empty()) blocks.push_back("Exit status:\n" + exits);
  std::string out = FormatUsage(command);
  for (const std::string& block : blocks) out += "\n" + block;
  return out;
}

std::string FormatProgramHelp() {
  std::string out = "usage: filedist COMMAND [ARGS...]\n       filedist --version\n\ncommands:\n";
  for (const CommandHelp& command : AllCommandHelp()) {
    std::string name = command.name;
    name.resize(std::max<size_t>(name.size() + 1, 11), ' ');
    out += Fill(Words(command.summary), "  " + name, 13);
  }
  for (const HelpItem& item : kItems) {
    if (item.kind == HelpItem::kProgramText) out += "\n" + Fill(Words(item.first), "", 0);
  }
  return out + "\nfiledist COMMAND --help describes one command.\n";
}
