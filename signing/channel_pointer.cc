#include "signing/channel_pointer.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "signing/manifest_text.h"
#include "signing/trusted_keys.h"

const char* const kDefaultChannel = "stable";

namespace {

const char kMagic[] = "filedist-channel 1";

bool IsPatchName(const std::string& name) {
  static const char kPattern[] = "Patch_dddddddd_dddddd";
  if (name.size() != sizeof kPattern - 1) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    bool digit = name[i] >= '0' && name[i] <= '9';
    if (kPattern[i] == 'd' ? !digit : name[i] != kPattern[i]) return false;
  }
  return true;
}

bool ParseNumber(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 18 || text[0] == '0') return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = result;
  return true;
}

bool TakeField(const std::string& line, const char* key, std::string* value) {
  std::string prefix = std::string(key) + " ";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  *value = line.substr(prefix.size());
  return true;
}

}  // namespace

bool IsChannelName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::string ChannelPointerFileName(const std::string& channel) { return "channel." + channel; }

std::string ChannelSignatureFileName(const std::string& channel) {
  return ChannelPointerFileName(channel) + ".sig";
}

std::string UtcTimeAfterDays(int days) {
  std::time_t when = std::time(nullptr) + static_cast<std::time_t>(days) * 86400;
  std::tm parts{};
  std::tm* utc = std::gmtime(&when);
  if (utc != nullptr) parts = *utc;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

bool ChannelPointerExpired(const ChannelPointer& pointer, const std::string& now) {
  // Times of one fixed form compare as text.
  return !pointer.expires.empty() && pointer.expires <= now;
}

bool IsChannelPointerFileName(const std::string& name) {
  const std::string prefix = "channel.";
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  std::string rest = name.substr(prefix.size());
  if (rest.size() > 4 && rest.compare(rest.size() - 4, 4, ".sig") == 0) {
    rest.resize(rest.size() - 4);
  }
  return IsChannelName(rest);
}

std::string FormatChannelPointer(const ChannelPointer& pointer) {
  return std::string(kMagic) + "\n" + "channel " + pointer.channel + "\n" + "sequence " +
         std::to_string(pointer.sequence) + "\n" + "patch " + pointer.patch + "\n" + "release " +
         std::to_string(pointer.release) + "\n" + "rollout " + std::to_string(pointer.rollout) +
         "\n" + "expires " + (pointer.expires.empty() ? "-" : pointer.expires) + "\n" + "end\n";
}

bool ParseChannelPointer(const std::string& text, ChannelPointer* pointer, std::string* error) {
  *error = "not a channel pointer";
  if (text.size() > kChannelPointerSizeLimit || text.empty() || text.back() != '\n' ||
      text.find('\r') != std::string::npos) {
    return false;
  }
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.size() != 8 || lines[0] != kMagic || lines[7] != "end") return false;
  ChannelPointer read;
  std::string sequence;
  std::string release;
  std::string rollout;
  if (!TakeField(lines[1], "channel", &read.channel) || !IsChannelName(read.channel) ||
      !TakeField(lines[2], "sequence", &sequence) || !ParseNumber(sequence, &read.sequence) ||
      !TakeField(lines[3], "patch", &read.patch) || !IsPatchName(read.patch) ||
      !TakeField(lines[4], "release", &release) || !ParseNumber(release, &read.release) ||
      !TakeField(lines[5], "rollout", &rollout) || !TakeField(lines[6], "expires", &read.expires)) {
    return false;
  }
  if (read.expires == "-") {
    read.expires.clear();
  } else if (!manifest_text::IsUtcTime(read.expires)) {
    return false;
  }
  uint64_t percent = 0;
  if (rollout == "0") {
    read.rollout = 0;
  } else if (ParseNumber(rollout, &percent) && percent <= 100) {
    read.rollout = static_cast<int>(percent);
  } else {
    return false;
  }
  *pointer = read;
  error->clear();
  return true;
}

bool VerifyChannelSignature(const std::string& text, const std::string& signatureText,
                            const std::string& publicKeyFile, std::string* error) {
  std::vector<Ed25519PublicKey> keys;
  if (!ReadTrustedKeysFile(publicKeyFile.c_str(), &keys)) {
    *error = "'" + publicKeyFile + "' is not a readable public key file";
    return false;
  }
  Ed25519Signature signature;
  if (!ParseSignatureFile(signatureText, &signature)) {
    *error = "the channel pointer's signature file is not one";
    return false;
  }
  if (!VerifyByAnyKey(keys, text, signature)) {
    *error = "the channel pointer is not signed by the trusted key";
    return false;
  }
  return true;
}
