// Initialisation files on POSIX systems, read as GetPrivateProfileSectionA
// reads them: section names match without regard to case, each line of the
// section is trimmed of surrounding blanks, blank and comment lines are left
// out, and the lines come back each followed by a NUL.
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "platform/posix/posix_path.h"
#include "util/ascii_case.h"

namespace plat {

namespace {

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// The next line without its line feed; false at the end of the file.
bool ReadLine(FILE* in, std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(in)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  return c != EOF || !line->empty();
}

}  // namespace

std::string ReadIniSection(const char* iniPath, const char* section, size_t capacity) {
  std::string result;
  if (iniPath == nullptr || section == nullptr || capacity < 2) return result;
  // Only a regular file is read: a named pipe in its place would hold the
  // build forever.
  std::unique_ptr<FILE, int (*)(FILE*)> in(OpenRegularFile(iniPath), std::fclose);
  if (!in) return result;
  bool inside = false;
  std::string line;
  while (ReadLine(in.get(), &line)) {
    std::string text = Trim(line);
    if (!text.empty() && text[0] == '[') {
      size_t close = text.find(']');
      std::string name =
          Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      if (inside) break;  // the first section of that name is the one read
      inside = util::EqualIgnoringAsciiCase(name, section);
      continue;
    }
    if (!inside || text.empty() || text[0] == ';') continue;
    // Room must stay for this line's NUL and the closing NUL. Lines that
    // filled the buffer to its last byte leave no room for even a cut line.
    if (result.size() + text.size() + 2 > capacity) {
      size_t room = capacity - 1 - result.size();
      if (room != 0) {
        result.append(text, 0, room - 1);
        result.push_back('\0');
      }
      break;
    }
    result += text;
    result.push_back('\0');
  }
  return result;
}

}  // namespace plat
