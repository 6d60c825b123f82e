// Keys and writes the bytes of a file, for a download that is decoded as it
// arrives: its MD5 (the key) and, for a signed release, its SHA-256 (checked
// against the Manifest), so that the file is never read back for either.
// For a large file the digests and the writing run on two helper threads,
// beside receiving and decoding instead of after them: on two cores the
// decoder then runs nearly alone on one.
#ifndef FILEDIST_UPDATE_STREAM_KEYER_H
#define FILEDIST_UPDATE_STREAM_KEYER_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fileio/gzip_decompress.h"
#include "fileio/md5.h"
#include "signing/sha256.h"

namespace update {

class StreamKeyer {
 public:
  // Takes bytes to be written; false when they could not be.
  using Writer = std::function<bool(const unsigned char* data, size_t size)>;

  // aside: digest and write on helper threads (worth it for large files
  // only). sha256: the SHA-256 as well as the key. write, when given, gets
  // every byte in order, on a helper thread with aside.
  StreamKeyer(bool aside, bool sha256, const Writer& write = Writer());
  ~StreamKeyer();
  StreamKeyer(const StreamKeyer&) = delete;
  StreamKeyer& operator=(const StreamKeyer&) = delete;

  // The next bytes of the file; false once a write failed. Bytes a
  // decoder made at the place Room gave are taken where they lie.
  bool Add(const void* data, size_t size);
  // With aside: a place in the ring for the next bytes, *size of them, to
  // lend a decoder (DecompressRoom), so that its output is not copied into
  // the ring. Null without aside, and where bytes copied in by Add end just
  // before the place: the decoder's window would be put over them.
  unsigned char* Room(size_t* size);
  // Returns once every byte added so far has gone to write: false when a
  // write failed.
  bool Drain();
  // The key of every byte added; call once. Afterwards sha256() holds the
  // SHA-256 in hexadecimal when it was asked for (empty where libgcrypt
  // could not be made ready), and size() the number of bytes.
  std::string Finish();
  const std::string& sha256() const { return sha256_hex_; }
  uint64_t size() const { return size_; }

 private:
  // A helper thread's jobs (a digest, or the writing): it takes every
  // piece in order.
  void Consume(size_t which);
  void Handoff();  // passes the filling piece to the helpers
  void Update(size_t job, const unsigned char* data, size_t size);
  void StopHelpers();

  const Writer write_;
  std::atomic<bool> write_failed_{false};
  Md5State md5_;
  std::unique_ptr<Sha256> sha_;
  std::string sha256_hex_;
  uint64_t size_ = 0;
  bool aside_;
  // With aside: a ring of pieces, each filled here and then read by every
  // helper before it is filled again, so that memory stays bounded whatever
  // the file's size. A piece's bytes begin kDecodeRoomBefore into its
  // memory and may run kDecodeRoomAfter past kPieceSize: the room a
  // decoder lent a place needs around it.
  struct Piece {
    std::unique_ptr<unsigned char[]> memory;
    size_t size = 0;
    unsigned char* bytes() const { return memory.get() + kDecodeRoomBefore; }
  };
  std::vector<Piece> ring_;
  uint64_t filled_pieces_ = 0;  // pieces handed off so far
  size_t filling_ = 0;          // bytes in the piece being filled
  bool in_place_ = false;       // the last of them were made at Room's place
  std::mutex mutex_;
  std::condition_variable filled_;         // a piece was handed off, or the end
  std::condition_variable freed_;          // a helper is done with a piece
  std::vector<std::vector<size_t>> jobs_;  // what each helper does
  std::vector<uint64_t> done_;             // pieces each helper has taken
  bool ended_ = false;
  std::vector<std::thread> helpers_;
};

}  // namespace update

#endif  // FILEDIST_UPDATE_STREAM_KEYER_H
