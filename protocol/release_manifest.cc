#include "protocol/release_manifest.h"

#include <ctime>
#include <set>

#include "protocol/manifest_text.h"

const char kManifestName[] = "Manifest";
const char kManifestSignatureName[] = "Manifest.sig";
const char kVersionListName[] = "VerComp.dat";
const char kListKeyName[] = "Ver";

namespace {

using namespace manifest_text;

const char kHeader[] = "filedist-manifest 1";

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
  LineReader reader(text);
  if (!reader.Begin(kHeader, kManifestSizeLimit, "manifest", error)) return false;
  std::string line;
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
  auto item = [manifest, &seen](const std::string& line, std::string* refusal) {
    ManifestFile file;
    if (!ParseFileLine(line, &file)) {
      *refusal = "expected 'file SHA256 SIZE GZSIZE x|- PATH' or 'end COUNT'";
      return false;
    }
    if (!seen.insert(file.path).second) {
      *refusal = "the path " + file.path + " is listed twice";
      return false;
    }
    manifest->files.push_back(std::move(file));
    return true;
  };
  return reader.Items(item, "file lines", error);
}

bool ParseManifestSequence(const std::string& head, uint64_t* sequence) {
  std::string prefix = std::string(kHeader) + "\nsequence ";
  if (head.compare(0, prefix.size(), prefix) != 0) return false;
  size_t end = head.find('\n', prefix.size());
  if (end == std::string::npos) return false;
  return ParseNumber(head.substr(prefix.size(), end - prefix.size()), sequence) && *sequence > 0;
}

std::string CurrentUtcTime() { return manifest_text::UtcTimeText(std::time(nullptr)); }
