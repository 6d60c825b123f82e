// The pieces of the signed text formats (release_manifest.h,
// patch_index.h): digests, numbers, released paths and the line reader
// that refuses anything but whole, plain lines.
#ifndef FILEDIST_SIGNING_MANIFEST_TEXT_H
#define FILEDIST_SIGNING_MANIFEST_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace manifest_text {

// A version list entry's path field holds at most this many characters.
constexpr size_t kPathLimit = 1023;

// True for exactly 64 lowercase hexadecimal digits.
bool IsHexDigest(const std::string& text);
// True for exactly 32 lowercase hexadecimal digits: a file key.
bool IsHexKey(const std::string& text);
// Decimal without sign or leading zeros, at most 2^63 - 1.
bool ParseNumber(const std::string& text, uint64_t* value);
// "YYYY-MM-DDTHH:MM:SSZ".
bool IsUtcTime(const std::string& text);
// A released path as the builder writes it: ".\" and then components
// separated by '\', none of them empty, "." or "..", with no comma and no
// '/'.
bool IsReleasedPath(const std::string& path);
// Splits at spaces into at most limit fields; the last takes the rest.
std::vector<std::string> SplitFields(const std::string& line, size_t limit);

class LineReader {
 public:
  explicit LineReader(const std::string& text) : text_(text) {}
  // The next line without its line feed; false at the end, or for a line
  // that is too long, lacks its line feed or holds a carriage return or NUL.
  bool Next(std::string* line, std::string* error);
  bool AtEnd() const { return position_ == text_.size(); }
  std::string Where() const { return "line " + std::to_string(number_) + ": "; }

 private:
  const std::string& text_;
  size_t position_ = 0;
  size_t number_ = 0;
};

}  // namespace manifest_text

#endif  // FILEDIST_SIGNING_MANIFEST_TEXT_H
