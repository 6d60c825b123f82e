// The matching pass of patch making: walks the new file and, with the
// suffix array of the old one, cuts it into instructions in the manner of
// bsdiff. An instruction adds add bytes to as many bytes of the old file
// (a region that mostly matches, so the differences are mostly zero),
// then inserts insert bytes that the old file does not have.
#ifndef FILEDIST_DELTA_MATCH_SCAN_H
#define FILEDIST_DELTA_MATCH_SCAN_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace delta {

struct Instruction {
  int64_t old_pos;  // where the add bytes are read from the old file
  int64_t new_pos;  // where the instruction's output starts in the new file
  int64_t add;
  int64_t insert;
};

// Receives the instructions in order. False stops the scan.
class InstructionSink {
 public:
  virtual bool Take(const Instruction& instruction) = 0;

 protected:
  ~InstructionSink() = default;
};

// The longest match of a string among the old file's suffixes, narrowed
// first by the suffixes' two first bytes and some high bits of the third.
class SuffixSearch {
 public:
  // old and sa (its suffix array) must outlive the object.
  SuffixSearch(const uint8_t* old_data, int64_t old_size, const int32_t* sa);
  // Length of the longest prefix of text[0, size) found in the old file,
  // and where (*pos); 0 when no two-byte prefix matches.
  int64_t Longest(const uint8_t* text, int64_t size, int64_t* pos) const;

  // Bits of the third byte the index uses for a file of this size: as
  // many as keep it within half the file's size, up to all eight.
  static int ThirdByteBits(int64_t old_size);
  // Bytes of the index for a file of this size.
  static uint64_t IndexBytes(int64_t old_size);

 private:
  // The first bytes of a suffix (zeros past its end) as an index key: the
  // key order is the suffixes' order, so each key's suffixes are a run.
  int32_t Key(const uint8_t* p, int64_t size) const;

  const uint8_t* old_;
  int64_t old_size_;
  const int32_t* sa_;
  int shift_;                   // 8 - ThirdByteBits
  int last_byte_;               // the old file's last byte, -1 if empty
  std::vector<int32_t> start_;  // by key: first index in sa; one more entry at the end
};

// Scans new_data against the old file and gives every instruction to sink
// (their add and insert lengths cover the new file exactly). Deterministic:
// the same instructions on every target. False when sink stopped it.
bool ScanMatches(const uint8_t* old_data, int64_t old_size, const SuffixSearch& search,
                 const uint8_t* new_data, int64_t new_size, InstructionSink* sink);

// Bytes in common at the starts of a and b, up to limit.
int64_t MatchLength(const uint8_t* a, const uint8_t* b, int64_t limit);

}  // namespace delta

#endif  // FILEDIST_DELTA_MATCH_SCAN_H
