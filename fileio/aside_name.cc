#include "fileio/aside_name.h"

#include <cstdint>
#include <random>

#include "platform/file_safety.h"
#include "platform/platform.h"
#include "util/ascii_case.h"

namespace {

constexpr char kPrefix[] = ".~old-";
// The longest name of one folder entry on the usual file systems.
constexpr size_t kMaxNameLength = 255;
// Names taken already are passed over; this many in a row means the folder
// is not one to write in.
constexpr int kAttempts = 64;

std::string HexNumber(uint32_t number) {
  static const char kHex[] = "0123456789abcdef";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i) {
    text[i] = kHex[number & 0xf];
    number >>= 4;
  }
  return text;
}

}  // namespace

bool IsAsideName(const std::string& name) {
  return util::StartsWithIgnoringAsciiCase(name, kPrefix);
}

std::string AsidePathFor(const std::string& target) {
  size_t cut = plat::FindLastSeparator(target);
  std::string prefix = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
  std::string name = cut == std::string::npos ? target : target.substr(cut + 1);
  std::random_device seed;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string own = kPrefix + HexNumber(seed());
    std::string path = prefix + own;
    if (path.size() + 1 + name.size() <= plat::kMaxFilePathLength &&
        own.size() + 1 + name.size() <= kMaxNameLength) {
      path += "-" + name;
    } else if (path.size() > plat::kMaxFilePathLength) {
      return std::string();
    }
    if (!plat::PathExists(path.c_str()) && !plat::IsLinkEntry(path)) return path;
  }
  return std::string();
}
