#include "signing/patch_index.h"

#include <tuple>

#include "signing/manifest_text.h"

const char kPatchIndexName[] = "PatchIndex";
const char kPatchIndexSignatureName[] = "PatchIndex.sig";
const char kPatchFolderName[] = "Patches";

namespace {

using namespace manifest_text;

const char kHeader[] = "filedist-patches 1";

bool ParsePatchLine(const std::string& line, PatchEntry* entry) {
  std::vector<std::string> fields = SplitFields(line, 8);
  if (fields.size() != 8 || fields[0] != "patch" || !IsHexKey(fields[1]) ||
      !IsHexDigest(fields[2]) || !ParseNumber(fields[3], &entry->oldSize) ||
      !IsHexDigest(fields[4]) || !ParseNumber(fields[5], &entry->patchSize) ||
      !IsReleasedPath(fields[6]) || !IsReleasedPath(fields[7])) {
    return false;
  }
  entry->oldKey = fields[1];
  entry->oldSha256 = fields[2];
  entry->patchSha256 = fields[4];
  entry->patchPath = fields[6];
  entry->resultPath = fields[7];
  return true;
}

}  // namespace

std::string FormatPatchIndex(const PatchIndex& index) {
  std::string text = std::string(kHeader) + "\n";
  text += "manifest " + index.manifestSha256 + " " + std::to_string(index.manifestSize) + "\n";
  for (const PatchEntry& entry : index.patches) {
    text += "patch " + entry.oldKey + " " + entry.oldSha256 + " " + std::to_string(entry.oldSize) +
            " " + entry.patchSha256 + " " + std::to_string(entry.patchSize) + " " +
            entry.patchPath + " " + entry.resultPath + "\n";
  }
  text += "end " + std::to_string(index.patches.size()) + "\n";
  return text;
}

bool ParsePatchIndex(const std::string& text, PatchIndex* index, std::string* error) {
  *index = PatchIndex();
  if (text.size() > kPatchIndexSizeLimit) {
    *error = "the patch index is too large";
    return false;
  }
  LineReader reader(text);
  std::string line;
  if (!reader.Next(&line, error)) return false;
  if (line != kHeader) {
    *error = reader.Where() + "not a filedist patch index of version 1";
    return false;
  }
  if (!reader.Next(&line, error)) return false;
  std::vector<std::string> fields = SplitFields(line, 4);
  if (fields.size() != 3 || fields[0] != "manifest" || !IsHexDigest(fields[1]) ||
      !ParseNumber(fields[2], &index->manifestSize)) {
    *error = reader.Where() + "expected 'manifest SHA256 SIZE'";
    return false;
  }
  index->manifestSha256 = fields[1];
  for (;;) {
    if (!reader.Next(&line, error)) return false;
    if (line.compare(0, 4, "end ") == 0) break;
    PatchEntry entry;
    if (!ParsePatchLine(line, &entry)) {
      *error = reader.Where() +
               "expected 'patch OLDKEY OLDSHA256 OLDSIZE PATCHSHA256 PATCHSIZE PATCHPATH PATH' "
               "or 'end COUNT'";
      return false;
    }
    // Sorted and unique, so that one pair of path and old key has one patch.
    if (!index->patches.empty() &&
        std::tie(index->patches.back().resultPath, index->patches.back().oldKey) >=
            std::tie(entry.resultPath, entry.oldKey)) {
      *error = reader.Where() + "out of order or listed twice";
      return false;
    }
    index->patches.push_back(std::move(entry));
  }
  uint64_t count = 0;
  if (!ParseNumber(line.substr(4), &count) || count != index->patches.size()) {
    *error = reader.Where() + "the end line does not count the patch lines";
    return false;
  }
  if (!reader.AtEnd()) {
    *error = reader.Where() + "text after the end line";
    return false;
  }
  return true;
}
