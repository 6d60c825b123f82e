#include "cli/progress_line.h"

void ProgressLine::Show(const std::string& text) {
  std::string line = escapes_ ? "\r\033[K" + text : "\r" + text;
  // Without the escape, what is left of a longer line is covered by hand.
  if (!escapes_ && text.size() < shown_) line.append(shown_ - text.size(), ' ');
  shown_ = text.size();
  std::fputs(line.c_str(), stream_);
  std::fflush(stream_);
}

void ProgressLine::Clear() {
  if (escapes_) {
    std::fputs("\r\033[K", stream_);
  } else {
    std::fputs(("\r" + std::string(shown_, ' ') + "\r").c_str(), stream_);
  }
  shown_ = 0;
  std::fflush(stream_);
}
