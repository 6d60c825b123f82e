// Scratch directories, files and child programs for the tests.
#ifndef FILEDIST_TESTS_SUPPORT_TEST_SUPPORT_H
#define FILEDIST_TESTS_SUPPORT_TEST_SUPPORT_H

#include <string>
#include <vector>

namespace testing_support {

// A fresh, empty directory under the system's temporary directory, removed
// with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // path() joined with a relative path written with '/'.
  std::string Sub(const std::string& relative) const;

 private:
  std::string path_;
};

// Runs the library in this process as a host lying in dir would run it: the
// startup directory is dir, and the log starts afresh (no level, no file
// open), as in a new process. On going it closes the log file and gives the
// startup directory back to the system, so declare it after the ScratchDir
// that holds dir: the file must be closed before its folder is removed.
class StartupDirIn {
 public:
  explicit StartupDirIn(const std::string& dir);
  ~StartupDirIn();
  StartupDirIn(const StartupDirIn&) = delete;
  StartupDirIn& operator=(const StartupDirIn&) = delete;
};

// The platform's separator, for building expected paths.
char Sep();

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
void MakeDirs(const std::string& path);
// The names in a directory, in the order the platform lists them; a
// directory that cannot be listed fails the test.
std::vector<std::string> NamesIn(const std::string& dir);
void SetReadOnly(const std::string& path, bool read_only);

// Another name that reaches an existing file, and what kind of name it is.
struct OtherName {
  std::string kind;
  std::string path;
};
// The names besides its own by which the file at path can be reached: a
// spelling with a "." segment, a hard link and a symbolic link beside it
// (where the system makes them), and on Windows the name in other letter
// case.
std::vector<OtherName> OtherNamesOf(const std::string& path);

// Directory of the running test program.
std::string TestProgramDir();

// Copies the program `name` (built beside the test programs) into dir and
// returns the copy's path. The startup directory of the copy is dir.
std::string CopyProgramInto(const std::string& name, const std::string& dir);

// Runs a program; stdout and stderr are collected into *output with "\r\n"
// turned into "\n". Returns the exit status.
int Run(const std::vector<std::string>& argv, std::string* output);

// Lines of text without their line ends.
std::vector<std::string> SplitLines(const std::string& text);

// The log lines of a log file with their time stamps cut off:
// "[ERROR] : text".
std::vector<std::string> LogLinesWithoutTime(const std::string& log_path);

}  // namespace testing_support

#endif  // FILEDIST_TESTS_SUPPORT_TEST_SUPPORT_H
