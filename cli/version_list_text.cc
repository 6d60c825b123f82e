#include "cli/version_list_text.h"

#include <fstream>

namespace {

// The reader's line buffer holds 1023 characters and its end.
constexpr size_t kLongestLine = 1023;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Text and binary garbage alike fail here; paths may hold any byte from
// 0x80 up (they are in the system's code page) but no control byte.
bool HasControlByte(const std::string& line) {
  for (char c : line) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return true;
  }
  return false;
}

// "path,key,size" as the release build writes it.
bool IsRecordLine(const std::string& line) {
  size_t first = line.find(',');
  if (first == std::string::npos || first == 0) return false;
  size_t second = line.find(',', first + 1);
  if (second == std::string::npos || second - first - 1 != 32) return false;
  for (size_t i = first + 1; i < second; ++i) {
    if (!IsHexDigit(line[i])) return false;
  }
  size_t digits = second + 1;
  if (digits < line.size() && line[digits] == '-') ++digits;
  if (digits == line.size()) return false;
  for (size_t i = digits; i < line.size(); ++i) {
    if (!IsDigit(line[i])) return false;
  }
  return true;
}

}  // namespace

bool CheckVersionListText(const std::string& path, std::string* problem) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *problem = "cannot be read";
    return false;
  }
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    if (number > kMostListLines) {
      *problem = "it has more than " + std::to_string(kMostListLines) +
                 " lines, the most a version list may have";
      return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kLongestLine) {
      *problem = "line " + std::to_string(number) + " is longer than 1023 characters";
      return false;
    }
    if (HasControlByte(line)) {
      *problem = "line " + std::to_string(number) + " holds binary data";
      return false;
    }
    if (!line.empty() && !IsRecordLine(line)) {
      *problem = "line " + std::to_string(number) + " is not path,key,size";
      return false;
    }
  }
  if (in.bad()) {
    *problem = "cannot be read";
    return false;
  }
  return true;
}
