#include "update/apply_journal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fileio/replacement_file.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/file_lines.h"
#include "update/fault_point.h"
#include "version/version_list.h"

namespace update {

namespace {

// First and last lines: a journal without both was cut short while it was
// being written, before any file was touched.
const char kHeader[] = "filedist apply journal 1";
const char kFooter[] = "end";
const char kPlace[] = "place,";
const char kRemove[] = "remove,";

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// "path,key,size" as a version list writes it.
bool ParseRecord(const std::string& text, VersionRecord* record) {
  size_t first = text.find(',');
  if (first == std::string::npos) return false;
  size_t second = text.find(',', first + 1);
  if (second == std::string::npos) return false;
  record->path = text.substr(0, first);
  record->key = text.substr(first + 1, second - first - 1);
  record->size = static_cast<int32_t>(std::strtol(text.c_str() + second + 1, nullptr, 10));
  return true;
}

}  // namespace

bool WriteJournal(const std::string& journalPath, const std::string& temporary,
                  const std::vector<JournalEntry>& entries, std::string* error) {
  std::string text = std::string(kHeader) + "\r\n";
  for (const JournalEntry& entry : entries) {
    text += entry.kind == JournalEntry::kPlace ? kPlace : kRemove;
    text += FormatVersionLine(entry.record);
    text += "\r\n";
  }
  text += std::string(kFooter) + "\r\n";
  return ReplaceFileDurably(journalPath, temporary, text, FaultPoint, error);
}

JournalState ReadJournal(const std::string& journalPath, std::vector<JournalEntry>* entries) {
  entries->clear();
  if (!plat::PathExists(journalPath.c_str()) && !plat::IsLinkEntry(journalPath)) {
    return JournalState::kAbsent;
  }
  std::vector<std::string> lines;
  if (!ReadFileLines(journalPath, &lines)) return JournalState::kTorn;
  if (lines.size() < 2 || lines.front() != kHeader || lines.back() != kFooter) {
    return JournalState::kTorn;
  }
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    JournalEntry entry;
    const std::string& line = lines[i];
    size_t skip = 0;
    if (StartsWith(line, kPlace)) {
      entry.kind = JournalEntry::kPlace;
      skip = std::strlen(kPlace);
    } else if (StartsWith(line, kRemove)) {
      entry.kind = JournalEntry::kRemove;
      skip = std::strlen(kRemove);
    } else {
      return JournalState::kTorn;
    }
    if (!ParseRecord(line.substr(skip), &entry.record)) return JournalState::kTorn;
    entries->push_back(std::move(entry));
  }
  return JournalState::kComplete;
}

}  // namespace update
