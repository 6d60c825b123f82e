// Deflate data (RFC 1951) decoded as it arrives, piece by piece, for the
// update engine's downloads: the fast decoder's tables and loop
// (fast_inflate_core.h), which stop between two codes when the input runs
// short and go on from there when more comes, so no byte is decoded twice.
// It tells where each block begins, so that a cut-off download can be taken
// up there with only the output before it.
//
// A sink may lend the decoder the place its output is to end up in (Room),
// so that the output is decoded there instead of being copied there.
//
// It decodes the deflate data alone; the gzip member around it (header,
// CRC and length) is the caller's (fileio/gzip_decompress). It takes exactly
// the data GzipMemberDecoder takes, that is zlib's.
#ifndef FILEDIST_ZIPENGINE_FAST_FAST_INFLATE_STREAM_H
#define FILEDIST_ZIPENGINE_FAST_FAST_INFLATE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zipengine {

namespace fast_inflate {
struct Tables;
}

class DeflateStreamDecoder {
 public:
  // Receives the decoded bytes in order; false stops the decoding.
  class Sink {
   public:
    virtual bool Take(const unsigned char* data, size_t size) = 0;
    // Where the next output may be decoded, *size bytes of it, or null to
    // have it decoded into the decoder's own buffer and handed on from
    // there. The decoder may write up to kRoomAfter bytes past those, and
    // puts the last kRoomBefore bytes of the output before the place (fewer
    // at a stream's start) into the bytes before it, unless the place is
    // where its last output ended. Output decoded there reaches Take as
    // pointers into the place; the place must stay until then.
    virtual unsigned char* Room(size_t* size) {
      *size = 0;
      return nullptr;
    }

   protected:
    ~Sink() = default;
  };

  enum class Status {
    kMore,     // all input taken; more is needed
    kEnd,      // the final block ended: rest() holds the input after it
    kBad,      // data RFC 1951 forbids, or a distance beyond the output
    kStopped,  // the sink refused output
  };

  // Where a block begins, counted from Start: the input bytes before it
  // (the byte it begins in included when bits is not 0), the output before
  // it, and the bits of that last byte not yet decoded (its top bits).
  struct Boundary {
    uint64_t input = 0;
    uint64_t output = 0;
    int bits = 0;
    int byte = 0;
  };

  // What a place a sink lends must hold before and after its room: the
  // window, and what one round of the decode loop writes past its limit.
  static constexpr size_t kRoomBefore = 32768;
  static constexpr size_t kRoomAfter = 512;

  DeflateStreamDecoder();
  ~DeflateStreamDecoder();
  DeflateStreamDecoder(const DeflateStreamDecoder&) = delete;
  DeflateStreamDecoder& operator=(const DeflateStreamDecoder&) = delete;

  // Begins a stream at a block boundary: window holds the output before it
  // (its last 32 KiB are used; none at the start of a stream), and the top
  // bits (0 to 7) of byte are the first bits of the stream.
  void Start(const unsigned char* window, size_t size, int bits, int byte);

  // Decodes what it can of the input so far; every byte decoded has gone to
  // sink when it returns. last says no input follows: the stream must end
  // within what was fed (else kBad), whose last bytes may be read ahead
  // only at the end (a code's bits are taken eight bytes ahead). After
  // kEnd, kBad or kStopped it does nothing more until Start.
  Status Feed(const unsigned char* data, size_t size, Sink* sink, bool last = false);

  // After kEnd: the input that followed the stream's last byte, valid until
  // the next call, and the input bytes the stream took.
  const unsigned char* rest() const { return pending_.data() + used_; }
  size_t rest_size() const { return pending_.size() - used_; }
  uint64_t input_used() const { return consumed_ + used_; }

  // The latest block boundary reached.
  const Boundary& boundary() const { return boundary_; }

 private:
  enum class State { kBlockStart, kCodes, kStored, kEnd, kFailed };

  // Chooses where the next output goes (the sink's room or window_) and
  // puts the window before it; sets limit_.
  void Place(Sink* sink);
  // Decodes what it can of the size bytes at base, the input from
  // consumed_ on; *used: the bytes of them taken (those read ahead into
  // the register given back). After kBad or kStopped nothing more.
  Status Decode(const unsigned char* base, size_t size, Sink* sink, bool last, size_t* used);

  std::unique_ptr<fast_inflate::Tables> tables_;
  std::unique_ptr<unsigned char[]> window_;
  std::vector<unsigned char> pending_;  // input kept between calls, not yet used from used_ on
  size_t used_ = 0;
  uint64_t consumed_ = 0;  // input bytes before pending_
  // The output: history_ is the oldest byte of it a distance may reach,
  // out_ where the next goes, limit_ where it is handed on; in window_
  // or in a sink's room.
  unsigned char* history_ = nullptr;
  unsigned char* out_ = nullptr;
  unsigned char* limit_ = nullptr;
  bool own_ = true;        // in window_
  uint64_t handed_ = 0;    // output given to the sink since Start
  uint64_t register_ = 0;  // the bit register between calls
  unsigned count_ = 0;
  State state_ = State::kEnd;
  bool final_ = false;
  bool fixed_ = false;
  size_t stored_left_ = 0;
  Boundary boundary_;
};

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_FAST_FAST_INFLATE_STREAM_H
