#include "update/release_state.h"

#include "fileio/replacement_file.h"
#include "platform/bounded_file.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/fault_point.h"
#include "update/install_paths.h"
#include "util/whole_number.h"

namespace update {

namespace {

const char kPrefix[] = "sequence ";

}  // namespace

ReleaseState ReadReleaseState(const std::string& installDir, uint64_t* sequence) {
  std::string path = JoinInstallPath(installDir, {kReleaseStateName});
  if (!plat::PathExists(path.c_str()) && !plat::IsLinkEntry(path)) return ReleaseState::kNone;
  // Not read through a link: the number must be the one this updater wrote
  // into the folder.
  std::string text;
  if (!plat::ReadBoundedFile(path, 64, &text, false)) return ReleaseState::kDamaged;
  const size_t prefix = sizeof kPrefix - 1;
  if (text.compare(0, prefix, kPrefix) != 0 || text.size() < prefix + 2 || text.back() != '\n' ||
      text.size() - prefix - 1 > 19) {
    return ReleaseState::kDamaged;
  }
  if (!util::ParseCount(text.substr(prefix, text.size() - prefix - 1), 0, UINT64_MAX, sequence)) {
    return ReleaseState::kDamaged;
  }
  return ReleaseState::kRead;
}

bool WriteReleaseState(const std::string& installDir, const std::string& temporary,
                       uint64_t sequence, std::string* error) {
  return ReplaceFileDurably(JoinInstallPath(installDir, {kReleaseStateName}), temporary,
                            kPrefix + std::to_string(sequence) + "\n", FaultPoint, error);
}

}  // namespace update
