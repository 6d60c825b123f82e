#include "update/update_reporter.h"

#include <cstdio>

namespace update {

std::string FormatSize(uint64_t bytes) {
  char text[64];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else if (bytes < (uint64_t{1} << 20)) {
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
  } else if (bytes < (uint64_t{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
  } else {
    std::snprintf(text, sizeof text, "%.2f GiB", bytes / 1073741824.0);
  }
  return text;
}

void UpdateReporter::ShowPlan(const UpdatePlan& plan, bool prune) {
  Note("would fetch " + std::to_string(plan.fetch.size()) + " files, " +
       FormatSize(plan.fetch_bytes));
  for (const PlannedFile& file : plan.fetch) {
    char line[64];
    std::snprintf(line, sizeof line, "  %-7s ", file.changed ? "changed" : "new");
    Note(line + file.record.path + " (" + FormatSize(ListedSize(file.record)) + ")");
  }
  std::string tail =
      plan.obsolete.empty() ? "" : (prune ? " and would be removed" : " and would be kept");
  Note(std::to_string(plan.obsolete.size()) + " files are no longer in the release" + tail);
  for (const PlannedFile& file : plan.obsolete) Note("  obsolete " + file.record.path);
}

void UpdateReporter::ShowFetched(size_t files, uint64_t listed_bytes, uint64_t received,
                                 const std::string& location) {
  // What came over the network, when that is known: retries and resumed
  // files make it differ from what the release lists.
  Note("fetched " + std::to_string(files) + " files (" + FormatSize(listed_bytes) +
       (received > 0 ? ", " + FormatSize(received) + " received" : "") + ") from " + location);
}

}  // namespace update
