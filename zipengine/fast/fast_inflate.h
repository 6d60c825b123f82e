// A fast reader of whole gzip members held in memory, for the release
// build's check of an earlier release's compressed files: a rebuild decodes
// nearly every file of the tree once, so this decoder works on the whole
// member at once (no pulling input piece by piece) with two-level code
// tables, and hands its output on in large pieces from a window that slides.
//
// It keeps all of its state in the object (no globals) and is independent
// of the CUnzip engine's decoder, which streams from files for the
// interface's classes. It accepts exactly the members zlib accepts.
#ifndef FILEDIST_ZIPENGINE_FAST_FAST_INFLATE_H
#define FILEDIST_ZIPENGINE_FAST_FAST_INFLATE_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zipengine {

namespace fast_inflate {
struct Tables;
}

class GzipMemberDecoder {
 public:
  // Receives the decoded bytes in order, in pieces of up to about 1 MiB.
  class Sink {
   public:
    virtual void Take(const unsigned char* data, size_t size) = 0;

   protected:
    ~Sink() = default;
  };

  GzipMemberDecoder();
  ~GzipMemberDecoder();
  GzipMemberDecoder(const GzipMemberDecoder&) = delete;
  GzipMemberDecoder& operator=(const GzipMemberDecoder&) = delete;

  // Decodes data[0, size), which must be exactly one gzip member (RFC 1952
  // header with any optional fields, its header CRC checked when present;
  // sound RFC 1951 data; the 8-byte trailer ending the input). The output
  // goes to sink; *trailerCrc and *trailerLength get the trailer's CRC-32
  // and length, which the caller compares with what sink saw. False for
  // anything else: output already given to sink is then meaningless.
  bool Decode(const unsigned char* data, size_t size, Sink* sink, uint32_t* trailerCrc, uint32_t* trailerLength);

 private:
  std::unique_ptr<fast_inflate::Tables> tables_;
  std::unique_ptr<unsigned char[]> window_;
};

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_FAST_FAST_INFLATE_H
