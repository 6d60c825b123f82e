// The fast deflate mode: gzip members (RFC 1952) made for speed and size by
// a design of the library's own, independent of the CZip engine, which stays
// the byte-exact level-6 compressor. The release build compresses every file
// with it.
//
// Each FastGzipStream carries all of its own state (no globals), and can be
// used for one member after another: the tables and buffers are made once,
// so a stream reused for thousands of small files does not pay for them
// again and again.
//
// The input is taken into the stream's own buffer in pieces of up to 1 MiB;
// each piece is parsed whole once it is full (or at the end), with matches
// reaching back into the last 32 KiB of the piece before. The output gathers
// in memory until the caller takes it.
#ifndef FILEDIST_ZIPENGINE_FAST_FAST_DEFLATE_H
#define FILEDIST_ZIPENGINE_FAST_FAST_DEFLATE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zipengine/fast/fast_bit_output.h"
#include "zipengine/fast/fast_block_writer.h"
#include "zipengine/fast/fast_match.h"

namespace zipengine {

class FastGzipStream {
 public:
  FastGzipStream();
  FastGzipStream(const FastGzipStream&) = delete;
  FastGzipStream& operator=(const FastGzipStream&) = delete;

  // Starts a member: forgets any earlier input and puts the 10-byte header
  // 1f 8b 08 00 00 00 00 00 00 0b (no name, no time) into the output.
  void Begin();

  // Where up to *room bytes of input may be placed (room is never 0);
  // Commit(n) then takes the first n of them. Reading a file straight into
  // this space saves a copy.
  unsigned char* InputSpace(size_t* room);
  void Commit(size_t n);

  // Takes size bytes of input.
  void Add(const unsigned char* data, size_t size);

  // Compresses what is left, ends the deflate data and adds the CRC-32 and
  // the length modulo 2^32 of the input.
  void Finish();

  // Output made so far and not yet taken.
  const unsigned char* output() const { return out_.get(); }
  size_t output_size() const { return out_used_; }
  // Forgets the output made so far (the caller has written it away).
  void ClearOutput() { out_used_ = 0; }

  // The CRC-32 of the member's input so far (after Finish: the trailer's),
  // so that a caller can tell whether it compressed the bytes it expected.
  uint32_t input_crc() const { return ~crc_register_; }

 private:
  // Parses the buffered input from parse_pos_ to fill_ and writes it out as
  // blocks; then, unless final, slides the buffer to make room.
  void Compress(bool final);
  void WriteBlock(int32_t end, bool final);
  void ReserveOutput(size_t bytes);

  std::unique_ptr<unsigned char[]> buffer_;
  int32_t fill_ = 0;
  int32_t parse_pos_ = 0;
  int32_t block_start_ = 0;
  bool tables_ready_ = false;

  FastMatchFinder finder_;
  std::unique_ptr<FastSymbol[]> symbols_;
  size_t symbol_count_ = 0;
  FastTally tally_{};

  std::unique_ptr<unsigned char[]> out_;
  size_t out_capacity_ = 0;
  size_t out_used_ = 0;
  FastBitOutput bits_;

  uint32_t crc_register_ = 0xffffffffu;
  uint32_t length_ = 0;
};

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_FAST_FAST_DEFLATE_H
