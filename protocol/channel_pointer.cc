#include "protocol/channel_pointer.h"

#include <ctime>
#include <vector>

#include "protocol/manifest_text.h"
#include "protocol/patch_dir_name.h"

const char* const kDefaultChannel = "stable";

namespace {

const char kMagic[] = "filedist-channel 1";

}  // namespace

bool IsChannelName(const std::string& name) { return manifest_text::IsName(name, "-_"); }

std::string ChannelPointerFileName(const std::string& channel) { return "channel." + channel; }

std::string ChannelSignatureFileName(const std::string& channel) {
  return ChannelPointerFileName(channel) + ".sig";
}

std::string UtcTimeAfterDays(int days) {
  return manifest_text::UtcTimeText(static_cast<int64_t>(std::time(nullptr)) +
                                    int64_t{days} * 86400);
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
  using manifest_text::kChannelNumber;
  using manifest_text::ParseNumber;
  using manifest_text::TakeField;
  if (!TakeField(lines[1], "channel", &read.channel) || !IsChannelName(read.channel) ||
      !TakeField(lines[2], "sequence", &sequence) ||
      !ParseNumber(sequence, kChannelNumber, &read.sequence) ||
      !TakeField(lines[3], "patch", &read.patch) || !IsPatchDirName(read.patch) ||
      !TakeField(lines[4], "release", &release) ||
      !ParseNumber(release, kChannelNumber, &read.release) ||
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
  } else if (ParseNumber(rollout, kChannelNumber, &percent) && percent <= 100) {
    read.rollout = static_cast<int>(percent);
  } else {
    return false;
  }
  *pointer = read;
  error->clear();
  return true;
}
