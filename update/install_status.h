// What an install folder holds and where it came from: the record an update
// leaves in .filedist-install, so that a later `filedist update` needs no
// source and `filedist status` can say what runs here, and the state an
// interrupted update leaves behind.
//
// .filedist-install is plain text, LF line ends, exactly these lines in this
// order:
//
//   filedist-install 1
//   source TEXT          the source as the update was given it: an http://
//                        or https:// URL, or an absolute folder; the rest of
//                        the line, which holds no CR or LF
//   channel NAME         the channel followed (stable: LATEST)
//   patch NAME           the patch directory installed (Patch_YYYYMMDD_HHMMSS)
//   pointer N|-          the sequence of the channel pointer that named it
//                        ("-": LATEST, or the source was a patch directory)
//   sequence N|-         the release's Manifest sequence, "-" without one
//   verified yes|no      whether a trusted key's signature was checked
//   installed TIME       YYYY-MM-DDTHH:MM:SSZ, when the update ended (UTC)
//
// It is read without following a link and written durably (a temporary file
// flushed and renamed over it), like the folder's other state.
#ifndef FILEDIST_UPDATE_INSTALL_STATUS_H
#define FILEDIST_UPDATE_INSTALL_STATUS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "update/release_state.h"

namespace update {

struct InstallRecord {
  std::string source;
  std::string channel = "stable";
  std::string patch;
  uint64_t pointer = 0;  // 0: none
  bool has_sequence = false;
  uint64_t sequence = 0;
  bool verified = false;
  std::string installed;
};

enum class RecordState {
  kNone,     // no update has recorded itself here
  kRead,     // the record was read
  kDamaged,  // the file is there but not one this updater wrote (or is a link)
};

std::string FormatInstallRecord(const InstallRecord& record);
// False when text is not exactly a record as above.
bool ParseInstallRecord(const std::string& text, InstallRecord* record);

RecordState ReadInstallRecord(const std::string& installDir, InstallRecord* record);
// Writes the record durably. False, with *error set, for a record that
// cannot be written as one (a line break in a field) or a failed write.
bool WriteInstallRecord(const std::string& installDir, const InstallRecord& record,
                        std::string* error);

// Until an update of the folder has succeeded there is no record to take
// the source from: the source and channel of a first update that failed are
// kept in .filedist-source, two lines after "filedist-source 1":
//
//   source TEXT          as in the record
//   channel NAME
//
// so that the update can be run again without them. The record, once
// written, is what counts, and the file is then removed.
struct TriedSource {
  std::string source;
  std::string channel = "stable";
};
// False when there is none or it is not one this updater wrote.
bool ReadTriedSource(const std::string& installDir, TriedSource* tried);
// Writes it durably; false, with *error set, as WriteInstallRecord.
bool WriteTriedSource(const std::string& installDir, const TriedSource& tried, std::string* error);
void RemoveTriedSource(const std::string& installDir);

// The time now as the record writes it.
std::string UtcTimeNow();

// Everything `filedist status` reports about an install folder.
struct InstallStatus {
  RecordState record_state = RecordState::kNone;
  InstallRecord record;
  ReleaseState release_state = ReleaseState::kNone;  // .filedist-release
  uint64_t release_sequence = 0;
  bool has_list = false;         // VerComp.dat is there and reads as a list
  size_t listed_files = 0;       // the files it lists
  bool journal_waiting = false;  // an interrupted apply the next update finishes
  size_t journal_files = 0;
  size_t staged_files = 0;   // checked files waiting in .filedist-staging
  size_t partial_files = 0;  // cut-off transfers the next update goes on with
};

InstallStatus ReadInstallStatus(const std::string& installDir);

}  // namespace update

#endif  // FILEDIST_UPDATE_INSTALL_STATUS_H
