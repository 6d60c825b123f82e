#include "update/install_status.h"

#include <vector>

#include "fileio/replacement_file.h"
#include "platform/bounded_file.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "protocol/channel_pointer.h"
#include "protocol/manifest_text.h"
#include "update/apply_journal.h"
#include "update/client_list.h"
#include "update/fault_point.h"
#include "update/install_paths.h"
#include "update/staging_names.h"

namespace update {

namespace {

const char kMagic[] = "filedist-install 1";
const char kTriedMagic[] = "filedist-source 1";
// A record is a few lines; a source URL or folder may be long, not this long.
constexpr size_t kRecordLimit = 16384;

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// A channel or a release name; the record has always taken a dot in both.
bool IsName(const std::string& text) { return manifest_text::IsName(text, "-_."); }

bool ParseNumber(const std::string& text, uint64_t* value) {
  return manifest_text::ParseNumber(text, manifest_text::kRecordNumber, value);
}

}  // namespace

std::string FormatInstallRecord(const InstallRecord& record) {
  std::string text = std::string(kMagic) + "\n";
  text += "source " + record.source + "\n";
  text += "channel " + record.channel + "\n";
  text += "patch " + record.patch + "\n";
  text += "pointer " + (record.pointer != 0 ? std::to_string(record.pointer) : "-") + "\n";
  text += "sequence " + (record.has_sequence ? std::to_string(record.sequence) : "-") + "\n";
  text += std::string("verified ") + (record.verified ? "yes" : "no") + "\n";
  text += "installed " + record.installed + "\n";
  return text;
}

bool ParseInstallRecord(const std::string& text, InstallRecord* record) {
  if (text.empty() || text.back() != '\n' || text.find('\r') != std::string::npos) return false;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.size() != 8 || lines[0] != kMagic) return false;
  InstallRecord read;
  std::string pointer;
  std::string sequence;
  std::string verified;
  using manifest_text::TakeField;
  if (!TakeField(lines[1], "source", &read.source) || read.source.empty() ||
      !TakeField(lines[2], "channel", &read.channel) || !IsName(read.channel) ||
      !TakeField(lines[3], "patch", &read.patch) || !IsName(read.patch) ||
      !TakeField(lines[4], "pointer", &pointer) || !TakeField(lines[5], "sequence", &sequence) ||
      !TakeField(lines[6], "verified", &verified) ||
      !TakeField(lines[7], "installed", &read.installed) ||
      !manifest_text::IsUtcTime(read.installed)) {
    return false;
  }
  if (pointer != "-" && (!ParseNumber(pointer, &read.pointer) || read.pointer == 0)) return false;
  if (sequence != "-") {
    if (!ParseNumber(sequence, &read.sequence)) return false;
    read.has_sequence = true;
  }
  if (verified != "yes" && verified != "no") return false;
  read.verified = verified == "yes";
  *record = read;
  return true;
}

RecordState ReadInstallRecord(const std::string& installDir, InstallRecord* record) {
  std::string path = JoinInstallPath(installDir, {kInstallRecordName});
  if (!plat::PathExists(path.c_str()) && !plat::IsLinkEntry(path)) return RecordState::kNone;
  std::string text;
  if (!plat::ReadBoundedFile(path, kRecordLimit, &text, false) ||
      !ParseInstallRecord(text, record)) {
    return RecordState::kDamaged;
  }
  return RecordState::kRead;
}

bool WriteInstallRecord(const std::string& installDir, const InstallRecord& record,
                        std::string* error) {
  if (record.source.empty() || HasLineBreak(record.source) || !IsName(record.channel) ||
      !IsName(record.patch) || !manifest_text::IsUtcTime(record.installed)) {
    *error = "the source, channel or release cannot be recorded (a line break or an odd name)";
    return false;
  }
  return ReplaceFileDurably(JoinInstallPath(installDir, {kInstallRecordName}),
                            JoinInstallPath(installDir, {kInstallRecordTemporaryName}),
                            FormatInstallRecord(record), FaultPoint, error);
}

bool ReadTriedSource(const std::string& installDir, TriedSource* tried) {
  std::string text;
  if (!plat::ReadBoundedFile(JoinInstallPath(installDir, {kTriedSourceName}), kRecordLimit, &text,
                             false)) {
    return false;
  }
  const std::string magic = std::string(kTriedMagic) + "\n";
  if (text.compare(0, magic.size(), magic) != 0 || text.back() != '\n' ||
      text.find('\r') != std::string::npos) {
    return false;
  }
  size_t source_end = text.find('\n', magic.size());
  size_t channel_end = text.find('\n', source_end + 1);
  if (channel_end != text.size() - 1) return false;
  TriedSource read;
  using manifest_text::TakeField;
  if (!TakeField(text.substr(magic.size(), source_end - magic.size()), "source", &read.source) ||
      read.source.empty() ||
      !TakeField(text.substr(source_end + 1, channel_end - source_end - 1), "channel",
                 &read.channel) ||
      !IsName(read.channel)) {
    return false;
  }
  *tried = read;
  return true;
}

bool WriteTriedSource(const std::string& installDir, const TriedSource& tried, std::string* error) {
  if (tried.source.empty() || HasLineBreak(tried.source) || !IsName(tried.channel)) {
    *error = "the source or channel cannot be recorded (a line break or an odd name)";
    return false;
  }
  return ReplaceFileDurably(
      JoinInstallPath(installDir, {kTriedSourceName}),
      JoinInstallPath(installDir, {kTriedSourceTemporaryName}),
      std::string(kTriedMagic) + "\nsource " + tried.source + "\nchannel " + tried.channel + "\n",
      FaultPoint, error);
}

void RemoveTriedSource(const std::string& installDir) {
  std::string path = JoinInstallPath(installDir, {kTriedSourceName});
  if (plat::PathExists(path.c_str()) || plat::IsLinkEntry(path)) plat::RemoveFile(path.c_str());
}

// The form a channel pointer's expiry has, which the record shares.
std::string UtcTimeNow() { return UtcTimeAfterDays(0); }

InstallStatus ReadInstallStatus(const std::string& installDir) {
  InstallStatus status;
  status.record_state = ReadInstallRecord(installDir, &status.record);
  status.release_state = ReadReleaseState(installDir, &status.release_sequence);
  std::string list_path = JoinInstallPath(installDir, {kClientListName});
  if (plat::PathExists(list_path.c_str())) {
    VersionRecordList records;
    std::string error;
    status.has_list = ReadInstalledList(list_path, &records, &error);
    status.listed_files = records.size();
  }
  std::vector<JournalEntry> entries;
  if (ReadJournal(JoinInstallPath(installDir, {kJournalName}), &entries) ==
      JournalState::kComplete) {
    status.journal_waiting = true;
    status.journal_files = entries.size();
  }
  std::string staging = JoinInstallPath(installDir, {kStagingName});
  std::vector<plat::DirEntry> staged;
  if (!plat::IsLinkEntry(staging) && plat::ListDirectory(staging, &staged)) {
    for (const plat::DirEntry& entry : staged) {
      const std::string resume = staging_names::ResumeName("");
      bool partial =
          entry.name.size() > resume.size() &&
          entry.name.compare(entry.name.size() - resume.size(), resume.size(), resume) == 0;
      if (manifest_text::IsHexKey(entry.name)) ++status.staged_files;
      if (partial) ++status.partial_files;
    }
  }
  return status;
}

}  // namespace update
