// The resume record: what a transfer that was cut off part-way leaves
// beside its decoded bytes, so that the next run goes on from where the
// decoder could be set back to instead of fetching the file from the start.
//
// Format (KEY.resume in the staging folder, update/staging_names.h): one
// line of ASCII, fields separated by one space, ended by "\n":
//
//   filedist-resume 1 INPUT OUTPUT MODE BITS BYTE KEPT
//
//   "filedist-resume 1"  the format and its version; a record of another
//                        version is not taken up (the file is fetched anew)
//   INPUT   compressed bytes before the resume point (decimal)
//   OUTPUT  decoded bytes before it: KEY.part holds at least these
//   MODE    the decoder's state there, in its own numbering
//           (GzipResumePoint::mode)
//   BITS    bits of the byte before INPUT not yet decoded (0..7)
//   BYTE    that byte (0..255)
//   KEPT    compressed bytes after the point, kept in KEY.download
//
// The record is written after KEY.part was flushed and KEY.download
// written, and removed before either changes again: a record only ever
// names bytes that are beside it. A record that does not parse is as
// good as none. Whatever is taken up is checked in the end with the whole
// file's key, like a file fetched in one go.
#ifndef FILEDIST_UPDATE_RESUME_RECORD_H
#define FILEDIST_UPDATE_RESUME_RECORD_H

#include <cstdint>
#include <string>

#include "fileio/gzip_decompress.h"

namespace update {

struct ResumeRecord {
  GzipResumePoint point;  // where the decoder is set back to
  uint64_t kept = 0;      // compressed bytes after the point, kept beside it
};

// The record's line, "\n" included.
std::string FormatResumeRecord(const ResumeRecord& record);

// Reads a record's text. False for anything that is not a line of this
// format ended by "\n"; whether the decoder can take the point up is its
// own check (GzipStreamDecoder::ResumeAt).
bool ParseResumeRecord(const std::string& text, ResumeRecord* record);

// Writes the record as the new file path (which must not exist). False when
// it could not be written whole.
bool WriteResumeRecord(const std::string& path, const ResumeRecord& record);

// Reads the record at path; false when there is none, it is a link, or it
// does not parse.
bool ReadResumeRecord(const std::string& path, ResumeRecord* record);

}  // namespace update

#endif  // FILEDIST_UPDATE_RESUME_RECORD_H
