// Filters.ini on arbitrary file contents: the platform's section reader and
// CFileVersion::LoadFilters, which splits the first line of each section at
// semicolons.
//
// The section reader must stay within its capacity and give the same lines
// whatever the capacity, cut at the capacity's end; the filter lists joined
// with ';' must give back the first line of their section (a line ending in
// ';' has no empty entry after its last semicolon).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "version/file_version.h"

namespace {

// What LoadFilters reads a section into.
constexpr size_t kSectionCapacity = 4096;
// Larger than any input the fuzzer makes.
constexpr size_t kUnboundedCapacity = 1 << 22;

std::string Join(const std::vector<std::string>& entries) {
  std::string text;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i != 0) text.push_back(';');
    text += entries[i];
  }
  return text;
}

void CheckSectionReader(const char* ini, const char* section, bool textOnly) {
  std::string bounded = plat::ReadIniSection(ini, section, kSectionCapacity);
  std::string whole = plat::ReadIniSection(ini, section, kUnboundedCapacity);
  // The caller's buffer also holds the closing NUL.
  FUZZ_CHECK(bounded.size() + 1 <= kSectionCapacity);
  if (whole.size() + 1 <= kSectionCapacity) {
    FUZZ_CHECK(bounded == whole);
  } else {
    FUZZ_CHECK(bounded == whole.substr(0, kSectionCapacity - 2) + '\0');
  }
  FUZZ_CHECK(whole.empty() || whole.back() == '\0');
  // Lines come trimmed, without blank or comment lines, without line ends.
  // A NUL inside a line of the file splits it in the result, so this holds
  // for text files only.
  if (!textOnly) return;
  size_t start = 0;
  while (start < whole.size()) {
    size_t end = whole.find('\0', start);
    std::string line = whole.substr(start, end - start);
    FUZZ_CHECK(!line.empty());
    FUZZ_CHECK(line.find('\n') == std::string::npos);
    FUZZ_CHECK(line.front() != ';' && line.front() != '[');
    FUZZ_CHECK(line.front() != ' ' && line.front() != '\t' && line.front() != '\r');
    FUZZ_CHECK(line.back() != ' ' && line.back() != '\t' && line.back() != '\r');
    start = end + 1;
  }
}

void CheckFilters(const char* ini, const char* section, const std::vector<std::string>& entries) {
  std::string text = plat::ReadIniSection(ini, section, kSectionCapacity);
  std::string line(text.c_str());
  if (line.empty()) {
    FUZZ_CHECK(entries.empty());
    return;
  }
  FUZZ_CHECK(!entries.empty());
  std::string joined = Join(entries);
  if (line.back() == ';') joined.push_back(';');
  FUZZ_CHECK(joined == line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string ini = fuzz::ScratchPath("Filters.ini");
  fuzz::WriteBytes(ini, data, size);
  bool textOnly = size == 0 || std::memchr(data, 0, size) == nullptr;

  const struct {
    const char* name;
    const std::vector<std::string>& (CFileVersion::*filters)() const;
  } sections[] = {{"Ext", &CFileVersion::ext_filters},
                  {"File", &CFileVersion::file_filters},
                  {"Keyword", &CFileVersion::keyword_filters}};

  CFileVersion version;
  // Entries from an earlier load must not survive a new one.
  static const std::string stale = [] {
    std::string path = fuzz::ScratchPath("Stale.ini");
    fuzz::WriteBytes(path, std::string("[Ext]\nstale\n[Keyword]\nstale\n"));
    return path;
  }();
  version.LoadFilters(stale.c_str());
  version.LoadFilters(ini.c_str());
  for (const auto& section : sections) {
    CheckSectionReader(ini.c_str(), section.name, textOnly);
    CheckFilters(ini.c_str(), section.name, (version.*section.filters)());
  }
  return 0;
}
