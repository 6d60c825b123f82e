// Applying a patch made by MakePatch, as the client does: the patch read
// in order, the old file read by seeking, the new file written in order.
// Memory is a few buffers that grow to what the patch's blocks need and
// never beyond about 6 MiB (see kMaxBlockStreamSize), whatever the sizes of
// the files, so a 32-bit client patches a file of any size.
//
// Nothing in a patch is trusted: ApplyPatch refuses (returns false with a
// reason in *error) a patch whose header is not this format's, that was
// made from an old file of another size, that would write more or fewer
// bytes than expected_new_size, read outside the old file, read past the
// end of one of its own streams, that ends early or has bytes after its
// last block, or whose result fails the CRC-32 it carries. It never
// crashes, whatever the bytes. On failure, what was already written to the
// output is meaningless and the caller discards it.
//
// Threads: ApplyPatch keeps no state outside its call; separate calls may
// run on separate threads with separate inputs and outputs.
#ifndef FILEDIST_DELTA_PATCH_APPLY_H
#define FILEDIST_DELTA_PATCH_APPLY_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace delta {

// The patch, read from the start to the end, once.
class PatchInput {
 public:
  virtual ~PatchInput() = default;
  // Reads up to size bytes into buffer and sets *got; *got == 0 only at
  // the end of the patch. False on a read error.
  virtual bool Read(uint8_t* buffer, size_t size, size_t* got) = 0;
};

// The old file, read at any offset.
class OldInput {
 public:
  virtual ~OldInput() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly size bytes at offset (offset + size <= Size() is
  // guaranteed by the caller). False on a read error.
  virtual bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size) = 0;
};

// The new file, written from the start to the end.
class NewOutput {
 public:
  virtual ~NewOutput() = default;
  // Writes size bytes after what was written before. False on an error.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
};

// Applies the patch read from patch to old, writing the result (exactly
// expected_new_size bytes on success) to out. See above for what makes it
// fail; *error then says why in a few words, for a log line.
bool ApplyPatch(PatchInput* patch, OldInput* old, uint64_t expected_new_size, NewOutput* out,
                std::string* error);

// What ApplyPatch allocates, at most, whatever the patch.
uint64_t PatchApplyMemory();

}  // namespace delta

#endif  // FILEDIST_DELTA_PATCH_APPLY_H
