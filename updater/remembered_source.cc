#include "updater/remembered_source.h"

#include <filesystem>
#include <system_error>

#include "update/install_paths.h"
#include "update/install_status.h"

namespace updater {

namespace {

bool IsUrl(const std::string& text) {
  return text.compare(0, 7, "http://") == 0 || text.compare(0, 8, "https://") == 0;
}

}  // namespace

std::string SourceToRemember(const std::string& given) {
  if (IsUrl(given)) return given;
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(given, error);
  return error ? given : absolute.lexically_normal().string();
}

bool RememberedSource(const std::string& install_dir, std::string* source,
                      update::UpdateFailure* failure, std::string* error) {
  update::InstallRecord record;
  switch (update::ReadInstallRecord(install_dir, &record)) {
    case update::RecordState::kRead:
      *source = record.source;
      return true;
    case update::RecordState::kNone: {
      // No update has succeeded here yet: the one that failed is tried again.
      update::TriedSource tried;
      if (update::ReadTriedSource(install_dir, &tried)) {
        *source = tried.source;
        return true;
      }
      *failure = update::UpdateFailure::kUsage;
      *error = "no source given, and no earlier update of '" + install_dir + "' recorded one";
      return false;
    }
    case update::RecordState::kDamaged:
      break;
  }
  *failure = update::UpdateFailure::kDisk;
  *error = "'" + update::JoinInstallPath(install_dir, {update::kInstallRecordName}) +
           "' is damaged; give the source once to record it again";
  return false;
}

std::string PatchNameOf(const std::string& location) {
  std::string text = location;
  while (!text.empty() && (text.back() == '/' || text.back() == '\\')) text.pop_back();
  size_t cut = text.find_last_of("/\\");
  return cut == std::string::npos ? text : text.substr(cut + 1);
}

bool RecordInstalledRelease(const std::string& install_dir, const std::string& source_given,
                            const std::string& channel, uint64_t pointer,
                            const std::string& patch_location, const update::UpdateOutcome& outcome,
                            std::string* error) {
  update::InstallRecord record;
  record.source = SourceToRemember(source_given);
  record.channel = channel;
  record.pointer = pointer;
  record.patch = PatchNameOf(patch_location);
  record.has_sequence = outcome.has_sequence;
  record.sequence = outcome.sequence;
  record.verified = outcome.verified;
  record.installed = update::UtcTimeNow();
  if (!update::WriteInstallRecord(install_dir, record, error)) return false;
  update::RemoveTriedSource(install_dir);
  return true;
}

void RecordTriedSource(const std::string& install_dir, const std::string& source_given,
                       const std::string& channel) {
  update::InstallRecord record;
  if (update::ReadInstallRecord(install_dir, &record) != update::RecordState::kNone) return;
  update::TriedSource tried;
  tried.source = SourceToRemember(source_given);
  if (!channel.empty()) tried.channel = channel;
  std::string ignored;
  update::WriteTriedSource(install_dir, tried, &ignored);
}

std::string ParentOf(const std::string& location) {
  std::string text = location;
  while (!text.empty() && (text.back() == '/' || text.back() == '\\')) text.pop_back();
  size_t cut = text.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : text.substr(0, cut);
}

}  // namespace updater
