#include "util/text_lines.h"

namespace util {

void ForEachLine(const std::string& text, const std::function<void(std::string line)>& take) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    take(std::move(line));
    start = end + 1;
  }
}

}  // namespace util
