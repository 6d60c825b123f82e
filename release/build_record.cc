#include "release/build_record.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fileio/io_util.h"
#include "release/release_dirs.h"
#include "protocol/manifest_text.h"

std::string BuildRecordPath(const std::string& patchDir) {
  std::string release_dir;
  std::string folder;
  std::string path;
  if (!SplitParentDir(patchDir, &release_dir) || release_dir.size() + 1 >= patchDir.size() ||
      !FormatChildPath(release_dir, kBuildRecordFolder, &folder) ||
      !FormatChildPath(folder, patchDir.substr(release_dir.size() + 1).c_str(), &path)) {
    return std::string();
  }
  return path;
}

namespace {

using manifest_text::IsLowerHex;
using manifest_text::kRecordNumber;
using manifest_text::ParseNumber;

const char kHeader[] = "filedist-build-record 1";

// "member SHA256 GZSIZE KEY PLAINSHA256 PLAINSIZE CRC PATH": the path takes
// the rest, spaces and all.
bool ParseMember(const std::string& line, std::string* path, EarlierMember* member) {
  const std::string tag = "member ";
  if (line.compare(0, tag.size(), tag) != 0) return false;
  std::vector<std::string> fields;
  size_t start = tag.size();
  while (fields.size() < 6) {
    size_t space = line.find(' ', start);
    if (space == std::string::npos) return false;
    fields.push_back(line.substr(start, space - start));
    start = space + 1;
  }
  *path = line.substr(start);
  uint64_t crc = 0;
  if (!IsLowerHex(fields[0], 64) || !ParseNumber(fields[1], kRecordNumber, &member->size) ||
      !IsLowerHex(fields[2], 32) || !IsLowerHex(fields[3], 64) ||
      !ParseNumber(fields[4], kRecordNumber, &member->plainSize) || !IsLowerHex(fields[5], 8) ||
      path->empty()) {
    return false;
  }
  crc = std::strtoull(fields[5].c_str(), nullptr, 16);
  member->sha256 = fields[0];
  member->key = fields[2];
  member->plainSha256 = fields[3];
  member->crc = static_cast<uint32_t>(crc);
  return true;
}

}  // namespace

std::string FormatBuildRecord(const std::vector<BuildRecordLine>& lines) {
  std::string text = std::string(kHeader) + "\n";
  for (const BuildRecordLine& line : lines) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(line.member.crc));
    text += "member " + line.member.sha256 + " " + std::to_string(line.member.size) + " " +
            line.member.key + " " + line.member.plainSha256 + " " +
            std::to_string(line.member.plainSize) + " " + crc + " " + line.path + "\n";
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
      return start == text.size() && ParseNumber(line.substr(4), kRecordNumber, &count) &&
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
