#include "update/rollout.h"

#include <cstdio>

#include "platform/bounded_file.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "signing/hex_text.h"
#include "signing/random_bytes.h"
#include "signing/sha256.h"
#include "update/install_paths.h"

namespace update {

namespace {

constexpr size_t kIdBytes = 16;

bool IsId(const std::string& text) {
  return text.size() == 2 * kIdBytes &&
         text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The identifier in path; false when it is missing, a link or not one.
bool ReadId(const std::string& path, std::string* id) {
  std::string text;
  if (!plat::ReadBoundedFile(path, 2 * kIdBytes + 1, &text, false) ||
      text.size() != 2 * kIdBytes + 1 || text.back() != '\n')
    return false;
  text.pop_back();
  if (!IsId(text)) return false;
  *id = text;
  return true;
}

}  // namespace

bool LoadInstallId(const std::string& installDir, std::string* id, std::string* error) {
  const std::string path = JoinInstallPath(installDir, {kInstallIdName});
  if (ReadId(path, id)) return true;
  if (plat::PathExists(path.c_str()) || plat::IsLinkEntry(path)) {
    *error = "'" + path + "' is not an install identifier; remove it to have a new one made";
    return false;
  }
  unsigned char bytes[kIdBytes];
  if (!RandomBytes(bytes, sizeof bytes)) {
    *error = "no random numbers for the install identifier";
    return false;
  }
  const std::string text = HexText(bytes, sizeof bytes) + "\n";
  const std::string temporary = JoinInstallPath(installDir, {kInstallIdTemporaryName});
  if (plat::PathExists(temporary.c_str()) || plat::IsLinkEntry(temporary)) {
    plat::RemoveFile(temporary.c_str());
  }
  FILE* file = plat::CreateNewFile(temporary, error);
  if (file == nullptr) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  written = plat::SyncFile(file) && written;
  written = std::fclose(file) == 0 && written;
  // Never over one another run made meanwhile: the install decides once.
  if (!written || !plat::RenameNoReplace(temporary, path)) {
    plat::RemoveFile(temporary.c_str());
    if (ReadId(path, id)) return true;
    *error = "cannot write '" + path + "': " + plat::LastErrorText();
    return false;
  }
  plat::SyncDirectory(installDir);
  *id = text.substr(0, 2 * kIdBytes);
  return true;
}

uint32_t RolloutBucket(const std::string& id, const std::string& patch) {
  Sha256 digest;
  const std::string text = id + "\n" + patch;
  digest.Update(text.data(), text.size());
  unsigned char bytes[kSha256Size];
  digest.Final(bytes);
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | bytes[i];
  return static_cast<uint32_t>(value % 10000);
}

bool InRollout(const std::string& id, const std::string& patch, int percent) {
  if (percent >= 100) return true;
  if (percent <= 0) return false;
  return RolloutBucket(id, patch) < static_cast<uint32_t>(percent) * 100;
}

}  // namespace update
