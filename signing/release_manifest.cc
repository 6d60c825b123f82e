#include "signing/release_manifest.h"

#include <ctime>
#include <set>

const char kManifestName[] = "Manifest";
const char kManifestSignatureName[] = "Manifest.sig";
const char kVersionListName[] = "VerComp.dat";
const char kListKeyName[] = "Ver";

namespace {

const char kHeader[] = "filedist-manifest 1";
// A version list entry's path field holds at most this many characters.
constexpr size_t kPathLimit = 1023;

bool IsHexDigest(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Decimal without sign or leading zeros, at most 2^63 - 1.
bool ParseNumber(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  if (result > static_cast<uint64_t>(INT64_MAX)) return false;
  *value = result;
  return true;
}

bool IsDigits(const std::string& text, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

bool IsUtcTime(const std::string& text) {
  // YYYY-MM-DDTHH:MM:SSZ
  return text.size() == 20 && IsDigits(text, 0, 4) && text[4] == '-' && IsDigits(text, 5, 2) &&
         text[7] == '-' && IsDigits(text, 8, 2) && text[10] == 'T' && IsDigits(text, 11, 2) &&
         text[13] == ':' && IsDigits(text, 14, 2) && text[16] == ':' && IsDigits(text, 17, 2) &&
         text[19] == 'Z';
}

// A released path as the builder writes it: ".\" and then components
// separated by '\', none of them empty, "." or "..", with no comma (a
// version list cannot carry one) and no '/' (a separator on Windows).
bool IsReleasedPath(const std::string& path) {
  if (path.size() < 3 || path.size() > kPathLimit || path.compare(0, 2, ".\\") != 0) return false;
  size_t start = 2;
  for (;;) {
    size_t end = path.find('\\', start);
    std::string component = path.substr(start, end == std::string::npos ? end : end - start);
    if (component.empty() || component == "." || component == "..") return false;
    for (char c : component) {
      if (c == ',' || c == '/') return false;
    }
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::vector<std::string> SplitFields(const std::string& line, size_t limit) {
  // The last field takes the rest of the line: a path may hold spaces.
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() + 1 < limit) {
    size_t space = line.find(' ', start);
    if (space == std::string::npos) break;
    fields.push_back(line.substr(start, space - start));
    start = space + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

class LineReader {
 public:
  explicit LineReader(const std::string& text) : text_(text) {}
  // The next line without its line feed; false at the end, or for a line
  // that is too long, lacks its line feed or holds a carriage return or NUL.
  bool Next(std::string* line, std::string* error) {
    ++number_;
    if (position_ >= text_.size()) {
      *error = "line " + std::to_string(number_) + ": the manifest ends early";
      return false;
    }
    size_t end = text_.find('\n', position_);
    size_t length = (end == std::string::npos ? text_.size() : end) - position_;
    if (length > kManifestLineLimit) {
      *error = "line " + std::to_string(number_) + ": too long";
      return false;
    }
    if (end == std::string::npos) {
      *error = "line " + std::to_string(number_) + ": no line end";
      return false;
    }
    *line = text_.substr(position_, length);
    if (line->find('\r') != std::string::npos || line->find('\0') != std::string::npos) {
      *error = "line " + std::to_string(number_) + ": a carriage return or NUL";
      return false;
    }
    position_ = end + 1;
    return true;
  }
  bool AtEnd() const { return position_ == text_.size(); }
  std::string Where() const { return "line " + std::to_string(number_) + ": "; }

 private:
  const std::string& text_;
  size_t position_ = 0;
  size_t number_ = 0;
};

bool ParseDigestLine(const std::string& line, const char* tag, std::string* digest, uint64_t* size) {
  std::vector<std::string> fields = SplitFields(line, 4);
  if (fields.size() != 3 || fields[0] != tag || !IsHexDigest(fields[1]) ||
      !ParseNumber(fields[2], size)) {
    return false;
  }
  *digest = fields[1];
  return true;
}

bool ParseFileLine(const std::string& line, ManifestFile* file) {
  std::vector<std::string> fields = SplitFields(line, 6);
  if (fields.size() != 6 || fields[0] != "file" || !IsHexDigest(fields[1]) ||
      !ParseNumber(fields[2], &file->size) || !ParseNumber(fields[3], &file->gzipSize) ||
      (fields[4] != "x" && fields[4] != "-") || !IsReleasedPath(fields[5])) {
    return false;
  }
  file->sha256 = fields[1];
  file->executable = fields[4] == "x";
  file->path = fields[5];
  return true;
}

}  // namespace

std::string FormatManifest(const ReleaseManifest& manifest) {
  std::string text = std::string(kHeader) + "\n";
  text += "sequence " + std::to_string(manifest.sequence) + "\n";
  text += "built " + manifest.built + "\n";
  text += "vercomp " + manifest.verCompSha256 + " " + std::to_string(manifest.verCompSize) + "\n";
  text += "ver " + manifest.verSha256 + " " + std::to_string(manifest.verSize) + "\n";
  for (const ManifestFile& file : manifest.files) {
    text += "file " + file.sha256 + " " + std::to_string(file.size) + " " +
            std::to_string(file.gzipSize) + (file.executable ? " x " : " - ") + file.path + "\n";
  }
  text += "end " + std::to_string(manifest.files.size()) + "\n";
  return text;
}

bool ParseManifest(const std::string& text, ReleaseManifest* manifest, std::string* error) {
  *manifest = ReleaseManifest();
  if (text.size() > kManifestSizeLimit) {
    *error = "the manifest is too large";
    return false;
  }
  LineReader reader(text);
  std::string line;
  if (!reader.Next(&line, error)) return false;
  if (line != kHeader) {
    *error = reader.Where() + "not a filedist manifest of version 1";
    return false;
  }
  if (!reader.Next(&line, error)) return false;
  if (line.compare(0, 9, "sequence ") != 0 || !ParseNumber(line.substr(9), &manifest->sequence) ||
      manifest->sequence == 0) {
    *error = reader.Where() + "expected 'sequence N' with N from 1";
    return false;
  }
  if (!reader.Next(&line, error)) return false;
  if (line.compare(0, 6, "built ") != 0 || !IsUtcTime(line.substr(6))) {
    *error = reader.Where() + "expected 'built YYYY-MM-DDTHH:MM:SSZ'";
    return false;
  }
  manifest->built = line.substr(6);
  if (!reader.Next(&line, error)) return false;
  if (!ParseDigestLine(line, "vercomp", &manifest->verCompSha256, &manifest->verCompSize)) {
    *error = reader.Where() + "expected 'vercomp SHA256 SIZE'";
    return false;
  }
  if (!reader.Next(&line, error)) return false;
  if (!ParseDigestLine(line, "ver", &manifest->verSha256, &manifest->verSize)) {
    *error = reader.Where() + "expected 'ver SHA256 SIZE'";
    return false;
  }
  std::set<std::string> seen;
  for (;;) {
    if (!reader.Next(&line, error)) return false;
    if (line.compare(0, 4, "end ") == 0) break;
    ManifestFile file;
    if (!ParseFileLine(line, &file)) {
      *error = reader.Where() + "expected 'file SHA256 SIZE GZSIZE x|- PATH' or 'end COUNT'";
      return false;
    }
    if (!seen.insert(file.path).second) {
      *error = reader.Where() + "the path " + file.path + " is listed twice";
      return false;
    }
    manifest->files.push_back(std::move(file));
  }
  uint64_t count = 0;
  if (!ParseNumber(line.substr(4), &count) || count != manifest->files.size()) {
    *error = reader.Where() + "the end line does not count the file lines";
    return false;
  }
  if (!reader.AtEnd()) {
    *error = reader.Where() + "text after the end line";
    return false;
  }
  return true;
}

bool ParseManifestSequence(const std::string& head, uint64_t* sequence) {
  std::string prefix = std::string(kHeader) + "\nsequence ";
  if (head.compare(0, prefix.size(), prefix) != 0) return false;
  size_t end = head.find('\n', prefix.size());
  if (end == std::string::npos) return false;
  return ParseNumber(head.substr(prefix.size(), end - prefix.size()), sequence) && *sequence > 0;
}

std::string CurrentUtcTime() {
  std::time_t now = std::time(nullptr);
  std::tm* utc = std::gmtime(&now);
  char text[32] = "1970-01-01T00:00:00Z";
  if (utc != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}
