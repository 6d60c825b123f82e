// The line the program redraws while it works, as a terminal would show it.
#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// What a terminal that takes no escapes shows of text on its last line: a
// carriage return goes back to the start, other characters overwrite.
std::string ShownLine(const std::string& text) {
  std::string line;
  size_t column = 0;
  for (char c : text) {
    if (c == '\r') {
      column = 0;
      continue;
    }
    if (column < line.size()) {
      line[column] = c;
    } else {
      line += c;
    }
    ++column;
  }
  return line;
}

std::string Written(FILE* file) {
  std::fflush(file);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

// The line ends as its last text and spaces; nothing of a longer one before.
TEST(ProgressLine, WithoutEscapesAShorterLineCoversTheLongerOneWithSpaces) {
  struct Step {
    const char* show;  // null: Clear()
    const char* seen;  // the line, trailing spaces dropped
  };
  const std::vector<Step> steps = {
      {"compressing: 10/200 files (5%), 1.0 MiB of 20.0 MiB",
       "compressing: 10/200 files (5%), 1.0 MiB of 20.0 MiB"},
      {"patching: 1 patches, 12 bytes", "patching: 1 patches, 12 bytes"},
      {"x", "x"},
      {nullptr, ""},
      {"after a clear", "after a clear"},
  };
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ProgressLine line(file, false);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.show != nullptr ? step.show : "clear");
    if (step.show != nullptr) {
      line.Show(step.show);
    } else {
      line.Clear();
    }
    std::string written = Written(file);
    EXPECT_EQ(written.find('\033'), std::string::npos);
    std::string seen = ShownLine(written);
    seen.erase(seen.find_last_not_of(' ') + 1);
    EXPECT_EQ(seen, step.seen);
  }
  std::fclose(file);
}

}  // namespace
