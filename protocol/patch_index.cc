#include "protocol/patch_index.h"

#include <tuple>

#include "protocol/manifest_text.h"

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
  LineReader reader(text);
  if (!reader.Begin(kHeader, kPatchIndexSizeLimit, "patch index", error)) return false;
  std::string line;
  if (!reader.Next(&line, error)) return false;
  if (!ParseDigestLine(line, "manifest", &index->manifestSha256, &index->manifestSize)) {
    *error = reader.Where() + "expected 'manifest SHA256 SIZE'";
    return false;
  }
  auto item = [index](const std::string& line, std::string* refusal) {
    PatchEntry entry;
    if (!ParsePatchLine(line, &entry)) {
      *refusal =
          "expected 'patch OLDKEY OLDSHA256 OLDSIZE PATCHSHA256 PATCHSIZE PATCHPATH PATH' "
          "or 'end COUNT'";
      return false;
    }
    // Sorted and unique, so that one pair of path and old key has one patch.
    if (!index->patches.empty() &&
        std::tie(index->patches.back().resultPath, index->patches.back().oldKey) >=
            std::tie(entry.resultPath, entry.oldKey)) {
      *refusal = "out of order or listed twice";
      return false;
    }
    index->patches.push_back(std::move(entry));
    return true;
  };
  return reader.Items(item, "patch lines", error);
}
