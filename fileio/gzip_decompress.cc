#include "fileio/gzip_decompress.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>

#include "log/logger.h"
#include "platform/platform.h"
#include "util/scoped_file.h"

namespace {

// gzip members carry their header and trailer; inflate checks both.
constexpr int kGzipWindowBits = 15 + 16;

using FilePtr = util::ScopedFile;

bool StartsWithGzipMagic(const unsigned char* data, size_t length) {
  return length >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

// Where decoded bytes go, and how many may go there.
struct Output {
  const DecompressSink* sink;
  uint64_t limit;
  uint64_t written = 0;
};

DecompressStatus WriteBytes(Output* out, const unsigned char* data, size_t length) {
  if (length == 0) return DecompressStatus::kOk;
  if (length > out->limit - out->written) return DecompressStatus::kTooLong;
  out->written += length;
  return (*out->sink)(data, length) ? DecompressStatus::kOk : DecompressStatus::kWriteError;
}

// Reads until the buffer holds wanted bytes or the input ends. False on a
// read error.
bool Fill(FILE* in, unsigned char* buffer, size_t* held, size_t wanted) {
  while (*held < wanted) {
    size_t got = std::fread(buffer + *held, 1, wanted - *held, in);
    if (got == 0) return std::ferror(in) == 0;
    *held += got;
  }
  return true;
}

DecompressStatus CopyPlain(FILE* in, Output* out, unsigned char* buffer, size_t held) {
  for (;;) {
    DecompressStatus written = WriteBytes(out, buffer, held);
    if (written != DecompressStatus::kOk) return written;
    held = std::fread(buffer, 1, kGzipChunkSize, in);
    if (held == 0) return std::ferror(in) ? DecompressStatus::kReadError : DecompressStatus::kOk;
  }
}

class Inflater {
 public:
  Inflater() { std::memset(&stream_, 0, sizeof(stream_)); }
  ~Inflater() {
    if (ready_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool Start() {
    ready_ = inflateInit2(&stream_, kGzipWindowBits) == Z_OK;
    return ready_;
  }
  z_stream* stream() { return &stream_; }

 private:
  z_stream stream_;
  bool ready_ = false;
};

DecompressStatus Inflate(FILE* in, Output* out, unsigned char* input, size_t held,
                         unsigned char* output) {
  Inflater inflater;
  if (!inflater.Start()) throw std::bad_alloc();
  z_stream* z = inflater.stream();
  z->next_in = input;
  z->avail_in = static_cast<uInt>(held);
  for (;;) {
    if (z->avail_in == 0) {
      size_t got = std::fread(input, 1, kGzipChunkSize, in);
      if (got == 0) {
        // The input ended inside a member: a cut-off download.
        return std::ferror(in) ? DecompressStatus::kReadError : DecompressStatus::kCorrupt;
      }
      z->next_in = input;
      z->avail_in = static_cast<uInt>(got);
    }
    z->next_out = output;
    z->avail_out = static_cast<uInt>(kGzipChunkSize);
    int result = inflate(z, Z_NO_FLUSH);
    size_t produced = kGzipChunkSize - z->avail_out;
    DecompressStatus written = WriteBytes(out, output, produced);
    if (written != DecompressStatus::kOk) return written;
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    if (result == Z_BUF_ERROR) {
      // No progress with output room to spare: only more input can help.
      if (z->avail_in != 0) return DecompressStatus::kCorrupt;
      continue;
    }
    if (result != Z_OK && result != Z_STREAM_END) return DecompressStatus::kCorrupt;
    if (result != Z_STREAM_END) continue;

    // One member is complete and checked. Another may follow, as in a file
    // made by appending gzip files; anything else after it is ignored.
    size_t rest = z->avail_in;
    std::memmove(input, z->next_in, rest);
    if (!Fill(in, input, &rest, 2)) return DecompressStatus::kReadError;
    if (!StartsWithGzipMagic(input, rest)) return DecompressStatus::kOk;
    if (inflateReset(z) != Z_OK) return DecompressStatus::kCorrupt;
    z->next_in = input;
    z->avail_in = static_cast<uInt>(rest);
  }
}

}  // namespace

DecompressStatus DecompressStreamTo(FILE* in, const DecompressSink& sink, uint64_t maxOutput) {
  Output out{&sink, maxOutput};
  std::unique_ptr<unsigned char[]> input(new unsigned char[kGzipChunkSize]);
  size_t held = 0;
  if (!Fill(in, input.get(), &held, 2)) return DecompressStatus::kReadError;
  if (!StartsWithGzipMagic(input.get(), held)) return CopyPlain(in, &out, input.get(), held);
  std::unique_ptr<unsigned char[]> output(new unsigned char[kGzipChunkSize]);
  return Inflate(in, &out, input.get(), held, output.get());
}

DecompressStatus DecompressStream(FILE* in, FILE* out) {
  DecompressSink sink = [out](const unsigned char* data, size_t length) {
    return std::fwrite(data, 1, length, out) == length;
  };
  return DecompressStreamTo(in, sink, UINT64_MAX);
}

namespace {

// One error line for a failed decompression; true for success.
bool ReportDecompressStatus(DecompressStatus status, const char* src, const char* dst) {
  switch (status) {
    case DecompressStatus::kOk:
      return true;
    case DecompressStatus::kCorrupt:
      LogError() << "Decompress File [" << src << "] Fail! The data is damaged or incomplete.";
      break;
    case DecompressStatus::kReadError:
      LogError() << "Read Src File [" << src << "] Fail!";
      break;
    case DecompressStatus::kWriteError:
    case DecompressStatus::kTooLong:
      LogError() << "Write Dst File [" << dst << "] Fail!";
      break;
  }
  return false;
}

}  // namespace

bool DecompressOpenFile(FILE* in, const char* src, FILE* out, const char* dst) {
  DecompressStatus status = DecompressStream(in, out);
  if (status == DecompressStatus::kOk && std::fflush(out) != 0) status = DecompressStatus::kWriteError;
  return ReportDecompressStatus(status, src, dst);
}

bool IOUtil_DecompressFile(const char* src, const char* dst) {
  if (src == nullptr || dst == nullptr) return false;
  FilePtr in(plat::OpenFile(src, "rb"));
  if (!in) {
    LogError() << "Open Src File [" << src << "] Fail!";
    return false;
  }
  FILE* out = plat::OpenFile(dst, "wb");
  if (out == nullptr) {
    LogError() << "Open Dst File [" << dst << "] Fail!";
    return false;
  }
  DecompressStatus status = DecompressStatus::kWriteError;
  try {
    status = DecompressStream(in.get(), out);
  } catch (...) {
    std::fclose(out);
    throw;
  }
  bool closed = std::fclose(out) == 0;
  if (status == DecompressStatus::kOk && !closed) status = DecompressStatus::kWriteError;
  return ReportDecompressStatus(status, src, dst);
}
