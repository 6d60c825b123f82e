#include "update/update_reporter.h"

#include <cstdio>

#include "util/size_text.h"

namespace update {

std::string PatchSummary(const PlanSizes& sizes) {
  if (sizes.patch_count == 0) return "";
  return "; " + std::to_string(sizes.patch_count) + " by patches of " +
         util::FormatSize(sizes.patch_bytes) + " in place of " +
         util::FormatSize(sizes.patched_whole_bytes);
}

void UpdateReporter::ShowPlan(const UpdatePlan& plan, bool prune, const PlanSizes& sizes) {
  // The list gives compressed sizes; the Manifest, where there is one, the
  // sizes the files will have once installed.
  uint64_t file_bytes = 0;
  bool all_known = true;
  for (const PlannedFile& file : plan.fetch) {
    auto found = sizes.installed.find(file.record.path);
    if (found == sizes.installed.end()) {
      all_known = false;
    } else {
      file_bytes += found->second;
    }
  }
  Note(
      "would fetch " + std::to_string(plan.fetch.size()) + " files, " +
      util::FormatSize(plan.fetch_bytes) + " compressed" +
      (all_known && !plan.fetch.empty() ? ", " + util::FormatSize(file_bytes) + " installed" : "") +
      PatchSummary(sizes));
  for (const PlannedFile& file : plan.fetch) {
    char line[64];
    std::snprintf(line, sizeof line, "  %-7s ", file.changed ? "changed" : "new");
    auto found = sizes.installed.find(file.record.path);
    std::string text = found == sizes.installed.end()
                           ? util::FormatSize(ListedSize(file.record)) + " compressed"
                           : util::FormatSize(found->second) + ", " +
                                 util::FormatSize(ListedSize(file.record)) + " compressed";
    auto patch = sizes.patches.find(file.record.path);
    if (patch != sizes.patches.end()) text += ", patch " + util::FormatSize(patch->second);
    Note(line + file.record.path + " (" + text + ")");
  }
  std::string tail =
      plan.obsolete.empty() ? "" : (prune ? " and would be removed" : " and would be kept");
  Note(std::to_string(plan.obsolete.size()) + " files are no longer in the release" + tail);
  for (const PlannedFile& file : plan.obsolete) Note("  obsolete " + file.record.path);
}

void UpdateReporter::ShowFetched(size_t files, uint64_t listed_bytes, uint64_t received,
                                 const std::string& location, const PlanSizes& sizes) {
  // What came over the network, when that is known: retries and resumed
  // files make it differ from what the release lists.
  Note("fetched " + std::to_string(files) + " files (" + util::FormatSize(listed_bytes) +
       (received > 0 ? ", " + util::FormatSize(received) + " received" : "") + PatchSummary(sizes) +
       ") from " + location);
}

}  // namespace update
