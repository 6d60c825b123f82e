#include "platform/bounded_file.h"

#include <cstdio>

#include "platform/platform.h"

namespace plat {

bool ReadBoundedFile(const std::string& path, size_t limit, std::string* contents,
                     bool followLinks) {
  FILE* file = followLinks ? OpenFile(path.c_str(), "rb") : OpenRegularFile(path.c_str(), false);
  if (file == nullptr) return false;
  std::string text;
  char buffer[1 << 14];
  bool fits = true;
  for (;;) {
    size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got == 0) break;
    if (text.size() + got > limit) {
      fits = false;
      break;
    }
    text.append(buffer, got);
  }
  bool complete = fits && !std::ferror(file);
  std::fclose(file);
  if (!complete) return false;
  contents->swap(text);
  return true;
}

}  // namespace plat
