#include "zipengine/gzip_header.h"

#include <cstring>

#include "zipengine/engine_errors.h"
#include "zipengine/engine_state.h"
#include "zipengine/input_buffer.h"

namespace zipengine {
namespace {

constexpr unsigned kFlagMultiPart = 0x02;
constexpr unsigned kFlagExtra = 0x04;
constexpr unsigned kFlagName = 0x08;
constexpr unsigned kFlagComment = 0x10;
constexpr unsigned kFlagEncrypted = 0x20;
constexpr unsigned kFlagReserved = 0xC0;

void SkipBytes(unsigned count) {
  while (count-- != 0) NextInputByte();
}

void SkipZeroTerminated() {
  while (NextInputByte() != 0) {
  }
}

int ReadGzipHeader() {
  const char* program = ProgramName();
  const char* name = SourceName();
  g_engine.method = static_cast<int>(NextInputByte());
  if (g_engine.method != 8) {
    Message("%s: %s: unknown method %d -- get newer version of gzip\n", program, name, g_engine.method);
    return -1;
  }
  unsigned flags = NextInputByte();
  if (flags & kFlagEncrypted) {
    Message("%s: %s is encrypted -- get newer version of gzip\n", program, name);
    return -1;
  }
  if (flags & kFlagMultiPart) {
    Message("%s: %s is a a multi-part gzip file -- get newer version of gzip\n", program, name);
    return -1;
  }
  if (flags & kFlagReserved) {
    Message("%s: %s has flags 0x%x -- get newer version of gzip\n", program, name, flags);
    return -1;
  }
  SkipBytes(6);  // time, extra flags, operating system
  if (flags & kFlagExtra) {
    unsigned length = NextInputByte();
    length |= NextInputByte() << 8;
    SkipBytes(length);
  }
  if (flags & kFlagName) SkipZeroTerminated();
  if (flags & kFlagComment) SkipZeroTerminated();
  return g_engine.method;
}

int ReadZipHeader() {
  const char* program = ProgramName();
  const char* name = SourceName();
  const unsigned char* header = g_engine.input;
  // The whole local header must lie in what the first read brought in.
  if (g_engine.input_fill < kZipLocalHeaderSize) {
    Message("\n%s: %s: not a valid zip file\n", program, name);
    return -1;
  }
  unsigned data_start = kZipLocalHeaderSize + LittleEndian16(header + kZipNameLengthOffset) +
                        LittleEndian16(header + kZipExtraLengthOffset);
  if (data_start > g_engine.input_fill || LittleEndian32(header) != kZipLocalSignature) {
    Message("\n%s: %s: not a valid zip file\n", program, name);
    return -1;
  }
  g_engine.input_position = data_start;
  g_engine.method = header[kZipMethodOffset];
  if (g_engine.method != 0 && g_engine.method != 8) {
    Message("\n%s: %s: first entry not deflated or stored -- use unzip\n", program, name);
    return -1;
  }
  unsigned flags = header[kZipFlagsOffset];
  if (flags & 1) {
    Message("\n%s: %s: encrypted file -- use unzip\n", program, name);
    return -1;
  }
  g_engine.sizes_in_descriptor = (flags & 8) != 0;
  g_engine.zip_entry = 1;
  return g_engine.method;
}

}  // namespace

int DetectMethod(int source_fd) {
  g_engine.source_fd = source_fd;
  unsigned first = NextInputByte();
  unsigned second = NextInputByte();
  g_engine.method = -1;
  if (first == 0x1f && (second == 0x8b || second == 0x9e)) return ReadGzipHeader();
  if (first == 'P' && second == 'K' && g_engine.input_position == 2 && g_engine.input_fill >= 4 &&
      std::memcmp(g_engine.input, "PK\003\004", 4) == 0) {
    return ReadZipHeader();
  }
  if (first == 0x1f && second == 0x1e) return g_engine.method = 2;
  if (first == 0x1f && second == 0x9d) return g_engine.method = 1;
  if (first == 0x1f && second == 0xa0) return g_engine.method = 3;
  Message("\n%s: %s: not in gzip format\n", ProgramName(), SourceName());
  return -1;
}

}  // namespace zipengine
