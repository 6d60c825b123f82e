// Text files read line by line as a version list or a journal is written:
// lines end at a line feed, a carriage return before it is dropped (a file
// that went through a Windows editor), and a last line needs no line feed.
#ifndef FILEDIST_UTIL_TEXT_LINES_H
#define FILEDIST_UTIL_TEXT_LINES_H

#include <functional>
#include <string>

namespace util {

// Calls take with each line of text in order, without its line end. No
// line follows a final line feed; empty text has none.
void ForEachLine(const std::string& text, const std::function<void(std::string line)>& take);

}  // namespace util

#endif  // FILEDIST_UTIL_TEXT_LINES_H
