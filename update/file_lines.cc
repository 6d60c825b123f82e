#include "update/file_lines.h"

#include <cstdint>

#include "platform/bounded_file.h"
#include "util/text_lines.h"

namespace update {

bool ReadFileLines(const std::string& path, std::vector<std::string>* lines) {
  // The updater's own files are never read through a link: one planted at
  // the name would make the updater act on a file it did not write.
  std::string text;
  if (!plat::ReadBoundedFile(path, SIZE_MAX, &text, false)) return false;
  lines->clear();
  util::ForEachLine(text, [lines](std::string line) { lines->push_back(std::move(line)); });
  return true;
}

}  // namespace update
