// Paths inside an install folder: release paths checked and split, the
// names the updater keeps for itself, and keys of installed files.
#ifndef FILEDIST_UPDATE_INSTALL_PATHS_H
#define FILEDIST_UPDATE_INSTALL_PATHS_H

#include <string>
#include <vector>

namespace update {

// The updater's own entries at the top of an install folder.
extern const char* const kClientListName;     // VerComp.dat
extern const char* const kKeyFileName;        // Ver
extern const char* const kStagingName;        // .filedist-staging
extern const char* const kJournalName;        // .filedist-journal
extern const char* const kLockName;           // .filedist-lock
extern const char* const kAsideListName;      // .filedist-aside
extern const char* const kLogName;            // BuildVer.log
extern const char* const kTrustedKeyName;     // filedist.pub: the key releases must be signed with
extern const char* const kReleaseStateName;   // .filedist-release: the installed release's number
extern const char* const kInstallRecordName;  // .filedist-install: what was installed, from where
extern const char* const kInstallRecordTemporaryName;  // .filedist-install.new
extern const char* const kTriedSourceName;  // .filedist-source: a first update's source, not done
extern const char* const kTriedSourceTemporaryName;  // .filedist-source.new
extern const char* const kInstallIdName;             // .filedist-id: the rollout identifier
extern const char* const kInstallIdTemporaryName;    // .filedist-id.new

// True when dir is a folder filedist keeps or may start to keep: it holds
// an update's state (a version list, a record, staged or journaled work),
// or nothing but filedist's own files and the program called programName.
// A program in any other folder (/usr/bin, Program Files, System32) must
// not take that folder for its install directory without being told.
bool IsInstallFolder(const std::string& dir, const std::string& programName);

// Splits a list path such as ".\data\a.txt" into its components ("data",
// "a.txt"), either separator accepted. False, with *reason set, for a path
// that is empty, absolute, names a drive or stream (":"), or has a ".."
// component, or a component this system cannot hold as a name (a NUL byte
// anywhere; on Windows also the names plat::EntryNameProblem gives).
bool SplitReleasePath(const std::string& path, std::vector<std::string>* parts,
                      std::string* reason);

// The form under which this file system takes paths for one file: the
// components folded as plat::EntryNameFold does, joined by '/'.
std::string FoldedInstallPath(const std::vector<std::string>& parts);

// The components joined below base with the system's separator.
std::string JoinInstallPath(const std::string& base, const std::vector<std::string>& parts);

// Removes the folders of parts (a file's path below installDir) that are
// left empty, deepest first, up to but not including installDir.
void RemoveEmptyFolders(const std::string& installDir, const std::vector<std::string>& parts);

// True when the first component names one of the updater's own entries, as
// the file system compares names. programName (the running program's file
// name when it lies in the install folder, else empty) counts too.
bool IsUpdaterEntry(const std::string& firstPart, const std::string& programName);

// True when something is at path, a link that leads nowhere included.
bool EntryExists(const std::string& path);

// True when the folder link at link (a folder between installDir and a
// file) leads to an existing folder inside installDir that is neither
// installDir itself nor inside the updater's own folders. A link back to
// installDir would make "link/filedist.pub" the trusted key past every
// check on a path's first component; one into the staging folder would
// reach the updater's checked downloads.
bool LinkStaysInside(const std::string& link, const std::string& installDir);

// The file key (MD5, 32 lowercase hex digits) of a regular file; false when
// it cannot be read or is a link.
bool KeyOfInstalledFile(const std::string& path, std::string* key);

}  // namespace update

#endif  // FILEDIST_UPDATE_INSTALL_PATHS_H
