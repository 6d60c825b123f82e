// What `filedist update` shows while it fetches: a bar with bytes and files
// on a terminal, one plain line per file otherwise.
#ifndef FILEDIST_CLI_UPDATE_PROGRESS_H
#define FILEDIST_CLI_UPDATE_PROGRESS_H

#include <cstdint>
#include <string>

#include "cli/progress_line.h"

class UpdateProgress {
 public:
  // escapes: the terminal interprets escape sequences (see ProgressLine).
  UpdateProgress(bool terminal, bool escapes, uint64_t total_bytes, int total_files);

  // A file begins; bytes of it arrive; it ends.
  void StartFile(const std::string& path);
  void FileBytes(uint64_t received);
  void FinishFile(const std::string& path, uint64_t size, bool placed);
  // More is to come than the total said (a patch failed; its whole file comes).
  void AddTotal(uint64_t bytes);

  // A message that must not be drawn over by the bar.
  void Message(const std::string& text);
  // Clears the bar before the summary.
  void Finish();

 private:
  void Draw(bool force);

  bool terminal_;
  ProgressLine line_;
  uint64_t total_bytes_;
  int total_files_;
  uint64_t done_bytes_ = 0;
  uint64_t file_bytes_ = 0;
  int done_files_ = 0;
  int drawn_permille_ = -1;
  std::string current_;
};

#endif  // FILEDIST_CLI_UPDATE_PROGRESS_H
