// The pieces of the text formats (release_manifest.h, patch_index.h,
// channel_pointer.h, and the install record of the update engine):
// digests, numbers, names, fields, released paths and the line reader that
// refuses anything but whole, plain lines.
#ifndef FILEDIST_PROTOCOL_MANIFEST_TEXT_H
#define FILEDIST_PROTOCOL_MANIFEST_TEXT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace manifest_text {

// A version list entry's path field holds at most this many characters.
constexpr size_t kPathLimit = 1023;

// True for exactly length lowercase hexadecimal digits.
bool IsLowerHex(const std::string& text, size_t length);
// True for exactly 64 lowercase hexadecimal digits.
bool IsHexDigest(const std::string& text);
// True for exactly 32 lowercase hexadecimal digits: a file key.
bool IsHexKey(const std::string& text);

// How a format writes a whole number: decimal digits without a sign or a
// leading zero. The formats differ in how many digits they take, whether a
// lone "0" is a value, and the largest value; each keeps its own bounds so
// that files already written read as they always did.
struct NumberForm {
  size_t most_digits;  // at most 19: the value then fits 64 bits
  bool zero;           // "0" is a value
  uint64_t largest;
};
// Manifests and patch indexes: 0 to 2^63 - 1, which every file offset holds.
constexpr NumberForm kManifestNumber = {19, true, INT64_MAX};
// Channel pointers: 1 up, at most 18 digits.
constexpr NumberForm kChannelNumber = {18, false, UINT64_MAX};
// The install record and the build record: 0 up, at most 19 digits.
constexpr NumberForm kRecordNumber = {19, true, UINT64_MAX};

bool ParseNumber(const std::string& text, const NumberForm& form, uint64_t* value);
// In kManifestNumber's form.
bool ParseNumber(const std::string& text, uint64_t* value);

// True for 1 to 64 ASCII letters, digits and characters of also (a channel
// "-_", a release name in the install record "-_.").
bool IsName(const std::string& text, const char* also);
// "key value" with exactly that key: *value is the rest of the line.
bool TakeField(const std::string& line, const char* key, std::string* value);
// "YYYY-MM-DDTHH:MM:SSZ".
bool IsUtcTime(const std::string& text);
// The UTC time seconds after 1970 in that form; the start of 1970 for a
// time before it or after 9999.
std::string UtcTimeText(int64_t seconds);
// A released path as the builder writes it: ".\" and then components
// separated by '\', none of them empty, "." or "..", with no comma and no
// '/'.
bool IsReleasedPath(const std::string& path);
// Splits at spaces into at most limit fields; the last takes the rest.
std::vector<std::string> SplitFields(const std::string& line, size_t limit);
// "TAG SHA256 SIZE" with exactly that tag.
bool ParseDigestLine(const std::string& line, const char* tag, std::string* digest, uint64_t* size);

// Reads a signed list: a header line, lines of its own, item lines up to
// "end COUNT" and nothing after that.
class LineReader {
 public:
  explicit LineReader(const std::string& text) : text_(text) {}
  // Checks that the text holds at most limit bytes and that its first line
  // is header; *error names the list as what ("manifest") otherwise.
  bool Begin(const char* header, size_t limit, const std::string& what, std::string* error);
  // Gives each line up to the end line to item, which refuses one by
  // returning false with *error set (this adds where); then checks that the
  // end line counts the items (named as counted, "file lines" in the error)
  // and that nothing follows it.
  bool Items(const std::function<bool(const std::string& line, std::string* error)>& item,
             const char* counted, std::string* error);
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

#endif  // FILEDIST_PROTOCOL_MANIFEST_TEXT_H
