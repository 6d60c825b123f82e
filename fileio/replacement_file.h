// New contents for a file, written beside it under a name of its own and put
// in its place in one step once they are whole.
#ifndef FILEDIST_FILEIO_REPLACEMENT_FILE_H
#define FILEDIST_FILEIO_REPLACEMENT_FILE_H

#include <cstdio>
#include <string>

// The temporary file is created exclusively in the target's directory under a
// short name of its own (".~fd" and eight hexadecimal digits, shorter where
// the path limit leaves less room), so that it never opens, empties or
// deletes a file that is already there, fits beside a target whose name is as
// long as the system allows, and no leftover of a crashed run can stand in the
// way of the next one. Whatever becomes of the call, the temporary file goes
// with the object unless it has become the target.
class ReplacementFile {
 public:
  // Called before each change a replacement makes to the disk (a leftover
  // removed, the temporary file made, the rename): the client's crash tests
  // stop the process there and check that the next run converges.
  using BeforeChange = void (*)();

  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the temporary file for target. A target that is a symbolic link
  // is followed: the file the link names gets the new contents and the link
  // stays. False when no file can be created in that directory, and when
  // the target is a named pipe, a device or a socket.
  bool Create(const char* target);

  // Creates the temporary file under the name temporary, which the caller
  // owns on target's file system (the client's staging folder, or a fixed
  // name beside its record): a leftover there of a run that stopped is
  // removed first, so that a stop leaves nothing that a later run does not
  // clear. Unlike Create, a link at target is replaced, never followed, and
  // the file is made as the durability observer sees it. before_change
  // (may be null) is called before each change, here and in CommitDurably.
  // False, with *error set to the system's reason, when it cannot be made.
  bool CreateAt(const std::string& target, const std::string& temporary, BeforeChange before_change,
                std::string* error);

  // The open temporary file, for binary writing.
  FILE* file() const { return file_; }
  const char* path() const { return path_.c_str(); }
  // The file to be replaced, links followed.
  const char* target() const { return target_.c_str(); }
  // True once Commit has closed the file with every byte written, whether or
  // not the rename then succeeded.
  bool whole() const { return whole_; }

  // Closes the temporary file and renames it over the target, whose
  // permission bits it takes on POSIX. False when a write, the close or the
  // rename failed; a read-only target is refused and stays as it was. After
  // a failed rename the whole file is kept, so that Commit can be called
  // again once the target has been moved out of the way. On Windows a
  // target that another handle holds open is waited for, up to about two
  // seconds, unless wait_if_held is false.
  bool Commit(bool wait_if_held = true);

  // Commit, made to survive a power cut: the data is flushed to the disk
  // before the rename and the folder after it, so that the target then
  // holds the old contents or the whole new ones, never an empty file.
  // False, with *error set to the system's reason, as Commit.
  bool CommitDurably(std::string* error);

 private:
  std::string target_;
  std::string path_;
  FILE* file_ = nullptr;
  BeforeChange before_change_ = nullptr;
  bool created_ = false;
  bool whole_ = false;  // closed with every byte written
};

// Puts size bytes at data in the place of target's contents, through a
// ReplacementFile: false (target as it was) when the file cannot be created
// beside it or a write, the close or the rename fails. Not flushed: for the
// files of a release being built, which are flushed together before anything
// names the release.
bool WriteReplacement(const std::string& target, const void* data, size_t size);

// The one writer of the files a reader takes on their own and that must
// survive a power cut whole: a release folder's LATEST, its channel pointers
// and their signatures. text replaces target's contents through a
// ReplacementFile and CommitDurably. False, with *error naming the file and
// the system's reason, when it cannot be done; target is then as it was and
// no temporary file is left beside it.
bool ReplaceFileDurably(const std::string& target, const std::string& text, std::string* error);

// The same for the client's own state files (the client list, the journal,
// the release number, the aside list, the install record), written through
// a temporary name of the caller's (see ReplacementFile::CreateAt), with
// before_change called before each change to the disk. *error gets only the
// system's reason: the callers name the file in their own words.
bool ReplaceFileDurably(const std::string& target, const std::string& temporary,
                        const std::string& text, ReplacementFile::BeforeChange before_change,
                        std::string* error);

#endif  // FILEDIST_FILEIO_REPLACEMENT_FILE_H
