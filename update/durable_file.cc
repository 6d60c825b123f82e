#include "update/durable_file.h"

#include <cstdint>
#include <cstdio>

#include "platform/bounded_file.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/fault_point.h"
#include "util/text_lines.h"

namespace update {

namespace {

std::string ParentOf(const std::string& path) {
  size_t cut = plat::FindLastSeparator(path);
  return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

}  // namespace

bool WriteFileDurably(const std::string& target, const std::string& temporary,
                      const std::string& text, std::string* error) {
  if (plat::PathExists(temporary.c_str()) || plat::IsLinkEntry(temporary)) {
    FaultPoint();
    plat::RemoveFile(temporary.c_str());
  }
  FaultPoint();
  FILE* file = plat::CreateNewFile(temporary, error);
  if (file == nullptr) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  written = plat::SyncFile(file) && written;
  if (!written) *error = plat::LastErrorText();
  if (std::fclose(file) != 0 && written) {
    *error = plat::LastErrorText();
    written = false;
  }
  if (written) {
    // The new file takes the old one's permissions: a list a user made
    // group-readable stays so.
    plat::CopyPermissions(target, temporary);
    FaultPoint();
    if (plat::ReplaceFileAtomically(temporary.c_str(), target.c_str())) {
      plat::SyncDirectory(ParentOf(target));
      return true;
    }
    *error = plat::LastErrorText();
  }
  plat::RemoveFile(temporary.c_str());
  return false;
}

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
