#include "cli/update_json.h"

namespace {

Json Paths(const std::vector<std::string>& paths) {
  Json list = Json::array();
  for (const std::string& path : paths) list.push_back(path);
  return list;
}

Json PlanJson(const update::UpdateOutcome& outcome) {
  const update::UpdatePlan& plan = outcome.plan;
  Json fetch = Json::array();
  for (const update::PlannedFile& file : plan.fetch) {
    auto patch = outcome.patch_sizes.find(file.record.path);
    fetch.push_back(
        {{"path", file.record.path},
         {"key", file.record.key},
         {"size", update::ListedSize(file.record)},
         {"change", file.changed ? "changed" : "new"},
         {"patch_size", patch == outcome.patch_sizes.end() ? Json(nullptr) : Json(patch->second)}});
  }
  Json obsolete = Json::array();
  for (const update::PlannedFile& file : plan.obsolete) {
    obsolete.push_back({{"path", file.record.path},
                        {"key", file.record.key},
                        {"size", update::ListedSize(file.record)}});
  }
  Json json;
  json["fetch"] = std::move(fetch);
  json["fetch_bytes"] = plan.fetch_bytes;
  // What patches change of it: their bytes, and the whole files' they stand for.
  json["patch_bytes"] = outcome.patch_bytes;
  json["patched_whole_bytes"] = outcome.patched_whole_bytes;
  json["obsolete"] = std::move(obsolete);
  return json;
}

// A failed run's reason is what it said last on standard error.
std::string LastProblem(const std::vector<std::string>& problems, const char* otherwise) {
  return problems.empty() ? otherwise : problems.back();
}

}  // namespace

Json UpdateDocument(const update::UpdateOptions& options, const std::string& source) {
  Json doc = JsonDocument("update");
  doc["dry_run"] = options.dry_run;
  doc["source"] = source;
  doc["install_dir"] = options.install_dir;
  doc["prune"] = options.prune;
  doc["verified"] = false;
  doc["release"] = nullptr;
  doc["interrupted"] = 0;
  doc["plan"] = nullptr;
  doc["result"] = nullptr;
  doc["problems"] = Json::array();
  return doc;
}

void AddUpdateOutcome(const update::UpdateOutcome& outcome, int status,
                      const std::vector<std::string>& problems, Json* doc) {
  Json& json = *doc;
  json["verified"] = outcome.verified;
  if (outcome.has_sequence) json["release"] = outcome.sequence;
  json["interrupted"] = outcome.interrupted_files;
  if (outcome.planned) json["plan"] = PlanJson(outcome);
  // A dry run does nothing; a run that stopped before its plan did nothing
  // of it.
  if (outcome.planned && !json["dry_run"].get<bool>()) {
    Json result;
    result["placed"] = Paths(outcome.placed);
    result["removed"] = Paths(outcome.removed);
    result["kept"] = Paths(outcome.kept);
    result["failed"] = Paths(outcome.failed);
    result["received_bytes"] = outcome.received;
    result["patched"] = Paths(outcome.patched);
    result["patch_failed"] = Paths(outcome.patch_failed);
    json["result"] = std::move(result);
  }
  json["problems"] = Paths(problems);
  if (status != 0) SetJsonFailure(doc, LastProblem(problems, "the update failed"));
}

Json VerifyDocument(const std::string& install_dir, const update::VerifyOutcome& outcome,
                    int status, const std::vector<std::string>& problems) {
  Json doc = JsonDocument("verify");
  doc["install_dir"] = install_dir;
  doc["checked"] = outcome.checked;
  doc["missing"] = Paths(outcome.missing);
  doc["changed"] = Paths(outcome.changed);
  doc["ignored"] = Paths(outcome.ignored);
  doc["interrupted"] = outcome.interrupted;
  doc["problems"] = Paths(problems);
  if (status != 0) {
    // Files that differ are the finding itself, said as the last line of
    // the plain output says it; otherwise what stopped the check.
    std::string error = outcome.listed && !outcome.interrupted
                            ? std::to_string(outcome.missing.size()) + " missing, " +
                                  std::to_string(outcome.changed.size()) + " changed of " +
                                  std::to_string(outcome.checked) + " files checked"
                            : LastProblem(problems, "the check failed");
    SetJsonFailure(&doc, error);
  }
  return doc;
}
