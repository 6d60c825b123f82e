#include "fileio/replacement_file.h"

#include <cerrno>
#include <chrono>
#include <cstdint>

#include "fileio/io_util.h"
#include "platform/file_safety.h"
#include "platform/platform.h"

namespace {

constexpr char kPrefix[] = ".~fd";
constexpr size_t kHexDigits = 8;
// Names taken by other calls or programs are passed over; this many in a row
// means something else is wrong.
constexpr int kAttempts = 64;

// Name candidates differ between calls and between processes; exclusive
// creation, not the numbers, is what keeps two writers apart.
uint32_t NextNumber() {
  static uint32_t state =
      static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                            reinterpret_cast<uintptr_t>(&state));
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  state += 0x9e3779b9u;
  return state;
}

// ".~fd" and eight hexadecimal digits, or as many digits as the path limit
// leaves room for (at least one: the target's own name fitted).
std::string CandidateName(size_t room) {
  static const char kHex[] = "0123456789abcdef";
  std::string name;
  size_t digits = kHexDigits;
  if (room < sizeof(kPrefix) - 1 + kHexDigits) {
    digits = room > 0 ? room : 1;
  } else {
    name = kPrefix;
  }
  uint32_t number = NextNumber();
  for (size_t i = 0; i < digits; ++i) {
    name.push_back(kHex[number & 0xf]);
    number = (number >> 4) | (number << 28);
  }
  return name;
}

}  // namespace

ReplacementFile::~ReplacementFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (created_) plat::RemoveFile(path_.c_str());
}

bool ReplacementFile::Create(const char* target) {
  if (target == nullptr || created_) return false;
  target_ = plat::FollowFileLinks(target);
  // A pipe or a device is written to, never replaced: refused here, as the
  // rename would put a plain file where it was.
  if (plat::IsSpecialFile(target_.c_str())) return false;
  std::string dir;
  bool has_dir = SplitParentDir(target_, &dir);
  std::string prefix = has_dir ? dir + plat::kPathSeparator : std::string();
  size_t room =
      plat::kMaxFilePathLength > prefix.size() ? plat::kMaxFilePathLength - prefix.size() : 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string candidate = prefix + CandidateName(room);
    errno = 0;
    file_ = plat::CreateNewFile(candidate.c_str());
    if (file_ != nullptr) {
      path_ = std::move(candidate);
      created_ = true;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool ReplacementFile::CreateAt(const std::string& target, const std::string& temporary,
                               BeforeChange before_change, std::string* error) {
  if (created_) return false;
  before_change_ = before_change;
  if (plat::PathExists(temporary.c_str()) || plat::IsLinkEntry(temporary)) {
    if (before_change_ != nullptr) before_change_();
    plat::RemoveFile(temporary.c_str());
  }
  if (before_change_ != nullptr) before_change_();
  file_ = plat::CreateNewFile(temporary, error);
  if (file_ == nullptr) return false;
  target_ = target;
  path_ = temporary;
  created_ = true;
  return true;
}

bool ReplacementFile::Commit(bool wait_if_held) {
  if (file_ != nullptr) {
    bool written = std::ferror(file_) == 0;
    written = std::fflush(file_) == 0 && written;
    written = std::fclose(file_) == 0 && written;
    file_ = nullptr;
    whole_ = written;
  }
  plat::WhenHeld held = wait_if_held ? plat::WhenHeld::kWaitBriefly : plat::WhenHeld::kFailAtOnce;
  if (!created_ || !whole_ || !plat::ReplaceFileAtomically(path_.c_str(), target_.c_str(), held)) {
    return false;
  }
  created_ = false;
  return true;
}

bool ReplacementFile::CommitDurably(std::string* error) {
  if (file_ != nullptr) {
    bool written = std::ferror(file_) == 0 && plat::SyncFile(file_);
    if (!written) *error = plat::LastErrorText();
    if (std::fclose(file_) != 0 && written) {
      *error = plat::LastErrorText();
      written = false;
    }
    file_ = nullptr;
    whole_ = written;
    if (!written) return false;
  }
  if (!created_ || !whole_) {
    *error = "nothing was written";
    return false;
  }
  if (before_change_ != nullptr) before_change_();
  if (!plat::ReplaceFileAtomically(path_.c_str(), target_.c_str())) {
    *error = plat::LastErrorText();
    return false;
  }
  created_ = false;
  std::string dir;
  if (!SplitParentDir(target_, &dir)) dir = ".";
  // A folder that cannot be flushed (a share that takes no such call) keeps
  // the name as the system keeps it; the data itself is on the disk.
  plat::SyncDirectory(dir.empty() ? std::string(1, plat::kPathSeparator) : dir);
  return true;
}

bool ReplaceFileDurably(const std::string& target, const std::string& text, std::string* error) {
  if (plat::IsSpecialFile(target.c_str())) {
    *error = "'" + target + "' is a pipe, a device or a socket, not a file to replace";
    return false;
  }
  ReplacementFile file;
  if (!file.Create(target.c_str())) {
    *error = "cannot write beside '" + target + "': " + plat::LastErrorText();
    return false;
  }
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file.file()) != text.size()) {
    *error = "cannot write '" + target + "': " + plat::LastErrorText();
    return false;
  }
  std::string why;
  if (!file.CommitDurably(&why)) {
    *error = "cannot write '" + target + "': " + why;
    return false;
  }
  return true;
}

bool ReplaceFileDurably(const std::string& target, const std::string& temporary,
                        const std::string& text, ReplacementFile::BeforeChange before_change,
                        std::string* error) {
  ReplacementFile file;
  if (!file.CreateAt(target, temporary, before_change, error)) return false;
  if (std::fwrite(text.data(), 1, text.size(), file.file()) != text.size()) {
    *error = plat::LastErrorText();
    return false;
  }
  return file.CommitDurably(error);
}

bool WriteReplacement(const std::string& target, const void* data, size_t size) {
  ReplacementFile file;
  if (!file.Create(target.c_str())) return false;
  if (size != 0 && std::fwrite(data, 1, size, file.file()) != size) return false;
  return file.Commit();
}
