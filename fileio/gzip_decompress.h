// Turning a fetched gzip file back into the plain file it was made from.
#ifndef FILEDIST_FILEIO_GZIP_DECOMPRESS_H
#define FILEDIST_FILEIO_GZIP_DECOMPRESS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

class Crc32Digest;

namespace zipengine {
class DeflateStreamDecoder;
}

// Size of the pieces data moves in, through one heap buffer per direction.
constexpr size_t kGzipChunkSize = 32768;

enum class DecompressStatus {
  kOk,             // the whole input was decoded (or copied) and written
  kCorrupt,        // bad deflate data, a CRC or length mismatch, or a cut-off stream
  kReadError,      // the source could not be read to its end
  kWriteError,     // the destination refused data
  kTooLong,        // the output grew beyond the limit the caller set
  kBeyondTrailer,  // a member decoded to more bytes than its trailer gives:
                   // a file forged to fill a disk, found at the member's end
};

// Takes decoded bytes; false stops the decoding with kWriteError.
using DecompressSink = std::function<bool(const unsigned char* data, size_t length)>;

// Lends a decoder the place its output is to end up in, so that the output
// is decoded there instead of being copied there: *size bytes, with
// kDecodeRoomBefore bytes before them (the decoder puts the window there)
// and kDecodeRoomAfter after them that it may write over; null for none.
// What is decoded there reaches the sink as pointers into the place, which
// must stay until then. The decoder takes the place as the continuation of
// its output when it begins where its last output ended.
using DecompressRoom = std::function<unsigned char*(size_t* size)>;
constexpr size_t kDecodeRoomBefore = 32768;
constexpr size_t kDecodeRoomAfter = 512;

// A place in a decoder's input where decoding can begin again with none of
// the input before it, only the last 32 KiB of the output before it: the
// start, a deflate block boundary, the end of a member, anywhere in input
// that is not gzip. So a download cut off part-way need not keep the
// compressed bytes it decoded already.
struct GzipResumePoint {
  uint64_t input = 0;   // input bytes before the point
  uint64_t output = 0;  // output bytes before it
  int mode = 0;         // what the decoder was doing there (its own numbering)
  int bits = 0;         // inside a member: bits of the byte before input not yet decoded
  int byte = 0;         // that byte
};

// Decodes input handed to it piece by piece, as it arrives from a network,
// with the rules DecompressStreamTo gives below: gzip input is decoded member
// after member, anything else passes through as it is. The first failure
// sticks: every later call returns it.
class GzipStreamDecoder {
 public:
  // Output goes to sink, at most maxOutput bytes of it (kTooLong beyond);
  // room, when given, lends the places to decode it into.
  GzipStreamDecoder(const DecompressSink& sink, uint64_t maxOutput,
                    const DecompressRoom& room = DecompressRoom());
  ~GzipStreamDecoder();
  GzipStreamDecoder(const GzipStreamDecoder&) = delete;
  GzipStreamDecoder& operator=(const GzipStreamDecoder&) = delete;

  // The next bytes of the input. kOk while more may follow.
  DecompressStatus Feed(const void* data, size_t size);
  // The input has ended: kOk when it ended where a gzip file may end.
  DecompressStatus Finish();
  // True once the rest of the input would be ignored (what follows the last
  // member is no member), so that a reader may stop reading.
  bool done() const;
  uint64_t written() const { return written_; }

  // The latest resume point in the input fed so far.
  const GzipResumePoint& resume_point() const { return point_; }
  // Sets a decoder that was fed nothing yet to point, as though the input
  // before it had been fed; window holds the last bytes of the output before
  // it (up to 32 KiB). The rest of a member entered so is decoded without
  // its trailer's checks, so the caller must check the whole output another
  // way (its key). False when point is none this decoder can take up.
  bool ResumeAt(const GzipResumePoint& point, const unsigned char* window, size_t size);

 private:
  // The numbers of kStart to kTrailer are written in resume records: a new
  // mode goes at the end.
  enum class Mode { kStart, kPlain, kInflate, kBetween, kDone, kTrailer, kHeader };
  class Output;
  DecompressStatus Emit(const unsigned char* data, size_t length);
  // Each takes what it can of *data and moves past it.
  DecompressStatus ReadHeader(const unsigned char** data, size_t* size);
  DecompressStatus ReadTrailer(const unsigned char** data, size_t* size);
  // Feeds the deflate decoder; at the member's end, what followed its data
  // is left in rest_ for the caller to go on with. last: no input follows.
  DecompressStatus Inflate(const unsigned char* data, size_t size, bool last);
  void StartInflate(const unsigned char* window, size_t size, int bits, int byte);
  void MarkPoint(Mode mode, uint64_t input, int bits, int byte);
  DecompressStatus LengthMismatch(uint64_t claimed);
  DecompressStatus Fail(DecompressStatus status);

  const DecompressSink& sink_;
  const DecompressRoom room_;
  uint64_t limit_;
  uint64_t written_ = 0;
  Mode mode_ = Mode::kStart;
  DecompressStatus failed_ = DecompressStatus::kOk;
  unsigned char held_[2] = {};  // the first bytes of the input or of a member
  size_t held_size_ = 0;
  uint64_t member_start_ = 0;  // written_ when the current member began
  uint64_t fed_ = 0;           // input bytes taken so far
  bool raw_ = false;           // in a member entered by ResumeAt: no trailer checks
  // The gzip header, read field by field as it arrives.
  int header_field_ = 0;
  size_t header_left_ = 0;
  unsigned char header_[10] = {};
  unsigned header_flags_ = 0;
  unsigned long header_crc_ = 0;
  // The member's deflate data, made at the first member.
  std::unique_ptr<zipengine::DeflateStreamDecoder> inflate_;
  uint64_t deflate_input_ = 0;   // fed_ where the deflate data (or its resume point) began
  uint64_t deflate_output_ = 0;  // written_ there
  std::unique_ptr<Crc32Digest> crc_digest_;  // of the member's output so far,
  unsigned long crc_ = 0;                    // or here where libgcrypt is not at hand
  unsigned char trailer_[8] = {};
  size_t trailer_have_ = 0;
  std::string rest_;  // input after a member's deflate data, still to go through
  GzipResumePoint point_;
};

// Streams in to out. Input that begins with the gzip magic is decoded member
// after member (data after the last member that is not a member is ignored);
// any other input is copied as it is. Every member's CRC and length are
// checked, and input that ends inside a member is an error.
DecompressStatus DecompressStream(FILE* in, FILE* out);

// As DecompressStream, handing the output to sink and stopping with
// kTooLong as soon as it would exceed maxOutput bytes, so that a small
// forged file cannot fill the disk.
DecompressStatus DecompressStreamTo(FILE* in, const DecompressSink& sink, uint64_t maxOutput);

// Decompresses the file src into dst, which is created or truncated. Logs one
// error line and returns false when src cannot be read, dst cannot be
// created or written, or the data is damaged; dst then holds whatever was
// decoded before the fault and is the caller's to discard.
bool IOUtil_DecompressFile(const char* src, const char* dst);

// As IOUtil_DecompressFile without its log line, writing at most maxOutput
// bytes (kTooLong beyond): the result says what stopped it, kReadError also
// when src cannot be opened as a regular file and kWriteError when dst
// cannot be created.
DecompressStatus DecompressFileBounded(const char* src, const char* dst, uint64_t maxOutput);

// As IOUtil_DecompressFile, on streams already open: in was opened from src,
// out to dst (the names are for the log line). out is flushed, not closed.
bool DecompressOpenFile(FILE* in, const char* src, FILE* out, const char* dst);

#endif  // FILEDIST_FILEIO_GZIP_DECOMPRESS_H
