// The one line a command redraws in place on a terminal while it works.
// Where the terminal interprets escapes, each drawing clears the rest of the
// line with one; elsewhere (a console that would print the escape as text)
// the line is overwritten with spaces as far as the last one reached.
#ifndef FILEDIST_CLI_PROGRESS_LINE_H
#define FILEDIST_CLI_PROGRESS_LINE_H

#include <cstddef>
#include <cstdio>
#include <string>

class ProgressLine {
 public:
  ProgressLine(FILE* stream, bool escapes) : stream_(stream), escapes_(escapes) {}

  // Replaces what the line shows with text (one line, no newline).
  void Show(const std::string& text);
  // Leaves the line empty, the cursor at its start, for other output.
  void Clear();

 private:
  FILE* stream_;
  bool escapes_;
  size_t shown_ = 0;  // characters on the line now
};

#endif  // FILEDIST_CLI_PROGRESS_LINE_H
