#include "protocol/manifest_text.h"

#include <cstdio>
#include <cstring>

#include "protocol/release_manifest.h"
#include "util/whole_number.h"

namespace manifest_text {

bool IsLowerHex(const std::string& text, size_t length) {
  if (text.size() != length) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsHexDigest(const std::string& text) { return IsLowerHex(text, 64); }

bool ParseNumber(const std::string& text, const NumberForm& form, uint64_t* value) {
  if (text.empty() || text.size() > form.most_digits) return false;
  // A leading zero is refused: the builder never writes one, and a number
  // has one spelling only.
  if (text[0] == '0' && (text.size() > 1 || !form.zero)) return false;
  return util::ParseCount(text, 0, form.largest, value);
}

bool ParseNumber(const std::string& text, uint64_t* value) {
  return ParseNumber(text, kManifestNumber, value);
}

bool IsName(const std::string& text, const char* also) {
  if (text.empty() || text.size() > 64) return false;
  for (char c : text) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              (c != '\0' && std::strchr(also, c) != nullptr);
    if (!ok) return false;
  }
  return true;
}

bool TakeField(const std::string& line, const char* key, std::string* value) {
  std::string prefix = std::string(key) + " ";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  *value = line.substr(prefix.size());
  return true;
}

static bool IsDigits(const std::string& text, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

std::string UtcTimeText(int64_t seconds) {
  // Counted here rather than by gmtime, whose range differs between the C
  // libraries (the 32-bit Windows one stops in 2038): both targets must write
  // the same text. Days to the civil date, in 400-year eras that start on
  // 1 March, so that the leap day ends its year.
  if (seconds < 0 || seconds > int64_t{253402300799}) return "1970-01-01T00:00:00Z";
  const int64_t days = seconds / 86400;
  const int64_t in_day = seconds % 86400;
  const int64_t shifted = days + 719468;  // from 0000-03-01
  const int64_t era = shifted / 146097;
  const int64_t day_of_era = shifted - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_from_march = (5 * day_of_year + 2) / 153;
  const int64_t day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
  const int64_t month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(year),
                static_cast<int>(month), static_cast<int>(day), static_cast<int>(in_day / 3600),
                static_cast<int>(in_day / 60 % 60), static_cast<int>(in_day % 60));
  return text;
}

bool IsUtcTime(const std::string& text) {
  // YYYY-MM-DDTHH:MM:SSZ
  return text.size() == 20 && IsDigits(text, 0, 4) && text[4] == '-' && IsDigits(text, 5, 2) &&
         text[7] == '-' && IsDigits(text, 8, 2) && text[10] == 'T' && IsDigits(text, 11, 2) &&
         text[13] == ':' && IsDigits(text, 14, 2) && text[16] == ':' && IsDigits(text, 17, 2) &&
         text[19] == 'Z';
}

// A version list cannot carry a comma, and '/' is a separator on Windows.
bool IsReleasedPath(const std::string& path) {
  if (path.size() < 3 || path.size() > kPathLimit || path.compare(0, 2, ".\\") != 0) return false;
  size_t start = 2;
  for (;;) {
    size_t end = path.find('\\', start);
    std::string component = path.substr(start, end == std::string::npos ? end : end - start);
    if (component.empty() || component == "." || component == "..") return false;
    for (char c : component) {
      if (c == ',' || c == '/') return false;
    }
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::vector<std::string> SplitFields(const std::string& line, size_t limit) {
  // A path may hold spaces.
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() + 1 < limit) {
    size_t space = line.find(' ', start);
    if (space == std::string::npos) break;
    fields.push_back(line.substr(start, space - start));
    start = space + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

bool ParseDigestLine(const std::string& line, const char* tag, std::string* digest,
                     uint64_t* size) {
  std::vector<std::string> fields = SplitFields(line, 4);
  if (fields.size() != 3 || fields[0] != tag || !IsHexDigest(fields[1]) ||
      !ParseNumber(fields[2], size)) {
    return false;
  }
  *digest = fields[1];
  return true;
}

bool LineReader::Begin(const char* header, size_t limit, const std::string& what,
                       std::string* error) {
  if (text_.size() > limit) {
    *error = "the " + what + " is too large";
    return false;
  }
  std::string line;
  if (!Next(&line, error)) return false;
  if (line != header) {
    *error = Where() + "not a filedist " + what + " of version 1";
    return false;
  }
  return true;
}

bool LineReader::Items(const std::function<bool(const std::string& line, std::string* error)>& item,
                       const char* counted, std::string* error) {
  std::string line;
  uint64_t items = 0;
  for (;;) {
    if (!Next(&line, error)) return false;
    if (line.compare(0, 4, "end ") == 0) break;
    std::string refusal;
    if (!item(line, &refusal)) {
      *error = Where() + refusal;
      return false;
    }
    ++items;
  }
  uint64_t count = 0;
  if (!ParseNumber(line.substr(4), &count) || count != items) {
    *error = Where() + "the end line does not count the " + counted;
    return false;
  }
  if (!AtEnd()) {
    *error = Where() + "text after the end line";
    return false;
  }
  return true;
}

bool LineReader::Next(std::string* line, std::string* error) {
  ++number_;
  if (position_ >= text_.size()) {
    *error = "line " + std::to_string(number_) + ": the manifest ends early";
    return false;
  }
  size_t end = text_.find('\n', position_);
  size_t length = (end == std::string::npos ? text_.size() : end) - position_;
  if (length > kManifestLineLimit) {
    *error = "line " + std::to_string(number_) + ": too long";
    return false;
  }
  if (end == std::string::npos) {
    *error = "line " + std::to_string(number_) + ": no line end";
    return false;
  }
  *line = text_.substr(position_, length);
  if (line->find('\r') != std::string::npos || line->find('\0') != std::string::npos) {
    *error = "line " + std::to_string(number_) + ": a carriage return or NUL";
    return false;
  }
  position_ = end + 1;
  return true;
}

bool IsHexKey(const std::string& text) { return IsLowerHex(text, 32); }

}  // namespace manifest_text
