#include "update/resume_record.h"

#include <cstdio>

#include "platform/bounded_file.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "util/scoped_file.h"

namespace update {

namespace {

constexpr const char kFormat[] = "filedist-resume 1";

// The longest record read: seven numbers and the format name fit well.
constexpr size_t kMostRecordBytes = 159;

}  // namespace

std::string FormatResumeRecord(const ResumeRecord& record) {
  const GzipResumePoint& point = record.point;
  return std::string(kFormat) + " " + std::to_string(point.input) + " " +
         std::to_string(point.output) + " " + std::to_string(point.mode) + " " +
         std::to_string(point.bits) + " " + std::to_string(point.byte) + " " +
         std::to_string(record.kept) + "\n";
}

bool ParseResumeRecord(const std::string& text, ResumeRecord* record) {
  std::string prefix = std::string(kFormat) + " ";
  if (text.compare(0, prefix.size(), prefix) != 0 || text.back() != '\n') return false;
  unsigned long long input = 0, output = 0, kept = 0;
  int mode = 0, bits = 0, byte = 0;
  if (std::sscanf(text.c_str() + prefix.size(), "%llu %llu %d %d %d %llu", &input, &output, &mode,
                  &bits, &byte, &kept) != 6) {
    return false;
  }
  record->point.input = input;
  record->point.output = output;
  record->point.mode = mode;
  record->point.bits = bits;
  record->point.byte = byte;
  record->kept = kept;
  return true;
}

bool WriteResumeRecord(const std::string& path, const ResumeRecord& record) {
  std::string error;
  util::ScopedFile file(plat::CreateNewFile(path, &error));
  if (!file) return false;
  std::string line = FormatResumeRecord(record);
  bool written = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
  return std::fclose(file.release()) == 0 && written;
}

bool ReadResumeRecord(const std::string& path, ResumeRecord* record) {
  // Looked for before every transfer; most find none, told by one look.
  if (!plat::NameIsTaken(path) || plat::IsLinkEntry(path)) return false;
  // A longer file is none this updater wrote: refused, not cut to a record.
  std::string text;
  return plat::ReadBoundedFile(path, kMostRecordBytes, &text, false) &&
         ParseResumeRecord(text, record);
}

}  // namespace update
