// A std::FILE* that closes itself, for files whose close result does not
// matter (reading, or a write given up on); a file whose data must reach the
// disk is closed by hand and its result checked.
#ifndef FILEDIST_UTIL_SCOPED_FILE_H
#define FILEDIST_UTIL_SCOPED_FILE_H

#include <cstdio>
#include <memory>

namespace util {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

using ScopedFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace util

#endif  // FILEDIST_UTIL_SCOPED_FILE_H
