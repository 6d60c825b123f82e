#include "release/build_record.h"

#include <cstdlib>

#include "release/release_dirs.h"

std::string BuildRecordPath(const std::string& patchDir) {
  return patchDir + kBuildRecordSuffix;
}

namespace {

const char kHeader[] = "filedist-build-record 1";

bool IsHex(const std::string& text, size_t length) {
  if (text.size() != length) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool ParseCount(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = result;
  return true;
}

// "member SHA256 GZSIZE KEY PATH": the path takes the rest, spaces and all.
bool ParseMember(const std::string& line, std::string* path, EarlierMember* member) {
  const std::string tag = "member ";
  if (line.compare(0, tag.size(), tag) != 0) return false;
  size_t first = tag.size();
  size_t second = line.find(' ', first);
  size_t third = second == std::string::npos ? second : line.find(' ', second + 1);
  size_t fourth = third == std::string::npos ? third : line.find(' ', third + 1);
  if (fourth == std::string::npos) return false;
  member->sha256 = line.substr(first, second - first);
  member->key = line.substr(third + 1, fourth - third - 1);
  *path = line.substr(fourth + 1);
  return IsHex(member->sha256, 64) && IsHex(member->key, 32) && !path->empty() &&
         ParseCount(line.substr(second + 1, third - second - 1), &member->size);
}

}  // namespace

std::string FormatBuildRecord(const std::vector<BuildRecordLine>& lines) {
  std::string text = std::string(kHeader) + "\n";
  for (const BuildRecordLine& line : lines) {
    text += "member " + line.member.sha256 + " " + std::to_string(line.member.size) + " " +
            line.member.key + " " + line.path + "\n";
  }
  text += "end " + std::to_string(lines.size()) + "\n";
  return text;
}

bool ParseBuildRecord(const std::string& text, std::map<std::string, EarlierMember>* members) {
  members->clear();
  size_t start = 0;
  bool header = false;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!header) {
      if (line != kHeader) return false;
      header = true;
      continue;
    }
    if (line.compare(0, 4, "end ") == 0) {
      uint64_t count = 0;
      return start == text.size() && ParseCount(line.substr(4), &count) &&
             count == members->size();
    }
    std::string path;
    EarlierMember member;
    if (!ParseMember(line, &path, &member) || !members->emplace(path, member).second) {
      return false;
    }
  }
  return false;
}
