#include "version/version_list.h"

#include <climits>
#include <cstring>
#include <memory>

#include "fileio/replacement_file.h"
#include "platform/platform.h"
#include "util/scoped_file.h"

namespace {

// The runtime's text-to-integer reading: leading blanks, an optional sign,
// digits up to the first other character. Values beyond 32 bits saturate,
// as the Windows runtime's atoi does.
int32_t ParseSize(const char* text, const char* end) {
  while (text < end && (*text == ' ' || (*text >= '\t' && *text <= '\r'))) ++text;
  bool negative = false;
  if (text < end && (*text == '+' || *text == '-')) negative = *text++ == '-';
  int64_t value = 0;
  for (; text < end && *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

void ParseLine(const char* line, const char* end, VersionRecordList* entries, PathIndex* index) {
  if (line == end) return;
  const char* first_comma = static_cast<const char*>(std::memchr(line, ',', end - line));
  if (first_comma == nullptr) return;
  const char* key = first_comma + 1;
  const char* second_comma = static_cast<const char*>(std::memchr(key, ',', end - key));
  if (second_comma == nullptr) return;
  size_t path_length = static_cast<size_t>(first_comma - line);
  size_t key_length = static_cast<size_t>(second_comma - key);
  // A record must fit the fixed fields a host receives; one that does not is
  // left out rather than cut into a different path or key.
  if (path_length > kMaxRecordPathLength || key_length > kMaxRecordKeyLength) return;
  VersionRecord record;
  record.path.assign(line, path_length);
  record.key.assign(key, key_length);
  record.size = ParseSize(second_comma + 1, end);
  (*index)[record.path] = static_cast<int32_t>(entries->size());
  entries->push_back(std::move(record));
}

using FilePtr = util::ScopedFile;

}  // namespace

bool ReadVersionList(const char* listPath, VersionRecordList* entries, PathIndex* index) {
  if (listPath == nullptr) return false;
  entries->clear();
  index->clear();
  plat::SetUserDefaultLocale();
  FilePtr file(plat::OpenFile(listPath, "rb"));
  if (!file) {
    plat::SetClassicLocale();
    return false;
  }
  constexpr size_t kChunk = 1 << 16;
  std::unique_ptr<char[]> chunk(new char[kChunk]);
  std::string pending;    // a line that runs across chunks
  bool overlong = false;  // the current line passed the limit and is dropped
  // Keeps at most the limit plus the carriage return a line may end in.
  auto hold = [&](const char* from, const char* to) {
    size_t room = kMaxVersionLineLength + 1 - pending.size();
    if (overlong || static_cast<size_t>(to - from) > room) {
      overlong = true;
      pending.clear();
      return;
    }
    pending.append(from, to);
  };
  auto parse = [&](const char* line, const char* line_end) {
    // Text mode turns a carriage return and line feed into a line feed.
    if (line_end > line && line_end[-1] == '\r') --line_end;
    if (static_cast<size_t>(line_end - line) <= kMaxVersionLineLength) {
      ParseLine(line, line_end, entries, index);
    }
  };
  for (;;) {
    size_t got = std::fread(chunk.get(), 1, kChunk, file.get());
    if (got == 0) break;
    const char* p = chunk.get();
    const char* end = p + got;
    while (p < end) {
      const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
      if (newline == nullptr) {
        hold(p, end);
        break;
      }
      if (pending.empty() && !overlong) {
        parse(p, newline);
      } else {
        hold(p, newline);
        if (!overlong) parse(pending.data(), pending.data() + pending.size());
      }
      pending.clear();
      overlong = false;
      p = newline + 1;
    }
  }
  // A last line without a line feed still counts.
  if (!overlong) parse(pending.data(), pending.data() + pending.size());
  file.reset();
  plat::SetClassicLocale();
  return true;
}

namespace {

// Appends one list line without its line end; no temporaries, since a
// client rewrites its whole list once per installed file.
void AppendVersionLine(const VersionRecord& record, std::string* text) {
  *text += record.path;
  text->push_back(',');
  *text += record.key;
  text->push_back(',');
  // Signed decimal, written by hand: printf's machinery costs more than the
  // rest of the line.
  char digits[12];
  char* end = digits + sizeof(digits);
  char* p = end;
  uint32_t magnitude = record.size < 0 ? 0u - static_cast<uint32_t>(record.size)
                                       : static_cast<uint32_t>(record.size);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (record.size < 0) *--p = '-';
  text->append(p, static_cast<size_t>(end - p));
}

}  // namespace

std::string FormatVersionLine(const VersionRecord& record) {
  std::string line;
  AppendVersionLine(record, &line);
  return line;
}

bool Data2File(const char* listPath, const VersionRecordList& entries) {
  if (listPath == nullptr) return false;
  std::string text;
  size_t estimate = 0;
  for (const VersionRecord& record : entries)
    estimate += record.path.size() + record.key.size() + 16;
  text.reserve(estimate);
  for (const VersionRecord& record : entries) {
    AppendVersionLine(record, &text);
    text += "\r\n";
  }

  // Written whole beside the list and renamed over it, so a crash or a full
  // disk leaves the old list, never half of the new one.
  ReplacementFile replacement;
  if (!replacement.Create(listPath)) return false;
  if (std::fwrite(text.data(), 1, text.size(), replacement.file()) != text.size()) return false;
  return replacement.Commit();
}
