#include "fileio/gzip_compress.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "fileio/io_util.h"
#include "log/logger.h"
#include "platform/platform.h"
#include "util/scoped_file.h"
#include "zipengine/fast/fast_deflate.h"

namespace {

// Data moves in pieces of this size, so memory does not grow with the file.
constexpr size_t kChunkSize = 32768;

using FilePtr = util::ScopedFile;

// One gzip member written to an open file by the engine's fast mode, which
// also writes the header and the trailer. Output is written out in whole
// chunks, so the file sees few, large writes.
class GzipMemberWriter {
 public:
  GzipMemberWriter(FILE* out, zipengine::FastGzipStream* stream) : out_(out), stream_(stream) {}
  GzipMemberWriter(const GzipMemberWriter&) = delete;
  GzipMemberWriter& operator=(const GzipMemberWriter&) = delete;

  bool Start() {
    stream_->Begin();
    return true;
  }

  bool Add(const unsigned char* data, size_t size) {
    stream_->Add(data, size);
    return stream_->output_size() < kChunkSize || Drain();
  }

  // Ends the deflate data and appends the CRC-32 and the length.
  bool Finish() {
    stream_->Finish();
    return Drain();
  }

 private:
  bool Drain() {
    size_t pending = stream_->output_size();
    if (pending > 0 && std::fwrite(stream_->output(), 1, pending, out_) != pending) return false;
    stream_->ClearOutput();
    return true;
  }

  FILE* out_;
  zipengine::FastGzipStream* stream_;
};

// What a source that cannot be opened leaves at the destination: a complete
// member of no data.
void WriteEmptyMember(const char* dst) {
  plat::RemoveFile(dst);
  FilePtr out(plat::OpenFile(dst, "wb"));
  if (!out) return;
  zipengine::FastGzipStream stream;
  GzipMemberWriter writer(out.get(), &stream);
  if (writer.Start()) writer.Finish();
}

}  // namespace

int64_t IOUtil_CompressFile(const char* src, const char* dst) {
  zipengine::FastGzipStream stream;
  return IOUtil_CompressFile(src, dst, &stream);
}

int64_t IOUtil_CompressFile(const char* src, const char* dst, zipengine::FastGzipStream* stream) {
  if (src == nullptr || dst == nullptr) return -1;
  // The source is opened and checked before the destination is touched: a
  // destination that is the source under another name, or lies inside a
  // source directory, would be deleted before it was read.
  FilePtr in(plat::OpenFile(src, "rb"));
  if (!in) {
    if (!IsSameOrInside(dst, src)) WriteEmptyMember(dst);
    LogError() << "Open Src File [" << src << "] Fail!";
    return -1;
  }
  if (plat::IsSameFile(src, dst)) {
    LogError() << "Dst File [" << dst << "] is Src File [" << src << "]!";
    return -1;
  }
  // A release names its compressed files from the patch directory too (hard
  // links); a new file, not a truncated old one, keeps an earlier patch's
  // copy from changing under it.
  plat::RemoveFile(dst);
  FilePtr out(plat::OpenFile(dst, "wb"));
  if (!out) {
    LogError() << "Open Dst File [" << dst << "] Fail!";
    return -1;
  }
  // Whole chunks go straight to the system; stdio would only copy them.
  std::setvbuf(out.get(), nullptr, _IONBF, 0);
  GzipMemberWriter writer(out.get(), stream);
  if (!writer.Start()) {
    LogError() << "Deflate Init for [" << dst << "] Fail!";
    return -1;
  }
  std::setvbuf(in.get(), nullptr, _IONBF, 0);

  std::unique_ptr<unsigned char[]> chunk(new unsigned char[kChunkSize]);
  int64_t total = 0;
  for (;;) {
    size_t got = std::fread(chunk.get(), 1, kChunkSize, in.get());
    if (got > 0) {
      if (!writer.Add(chunk.get(), got)) {
        LogError() << "Write Dst File [" << dst << "] Fail!";
        return -1;
      }
      total += static_cast<int64_t>(got);
    }
    if (got < kChunkSize) break;
  }
  if (std::ferror(in.get())) {
    // A file cut short by a read error must not pass for the whole file.
    LogError() << "Read Src File [" << src << "] Fail!";
    return -1;
  }
  if (!writer.Finish() || std::fclose(out.release()) != 0) {
    LogError() << "Write Dst File [" << dst << "] Fail!";
    return -1;
  }
  return total;
}
