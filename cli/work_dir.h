// A private folder under the system's temporary directory for files that a
// command makes on the way (downloads, decompressed lists), removed with
// everything in it when the object goes.
#ifndef FILEDIST_CLI_WORK_DIR_H
#define FILEDIST_CLI_WORK_DIR_H

#include <string>

class WorkDir {
 public:
  // The folder is named prefix plus a random number; ok() tells whether one
  // could be made.
  explicit WorkDir(const char* prefix);
  ~WorkDir();
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  bool ok() const { return !path_.empty(); }
  // Path of a file of that name inside the folder.
  std::string File(const char* name) const;

 private:
  std::string path_;
};

#endif  // FILEDIST_CLI_WORK_DIR_H
