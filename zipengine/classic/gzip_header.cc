#include "zipengine/classic/gzip_header.h"

#include <cstring>

#include "zipengine/classic/engine_errors.h"
#include "zipengine/classic/engine.h"
#include "zipengine/classic/input_buffer.h"

namespace zipengine {
namespace {

constexpr unsigned kFlagMultiPart = 0x02;
constexpr unsigned kFlagExtra = 0x04;
constexpr unsigned kFlagName = 0x08;
constexpr unsigned kFlagComment = 0x10;
constexpr unsigned kFlagEncrypted = 0x20;
constexpr unsigned kFlagReserved = 0xC0;

void SkipBytes(Engine* engine, unsigned count) {
  while (count-- != 0) NextInputByte(engine);
}

void SkipZeroTerminated(Engine* engine) {
  while (NextInputByte(engine) != 0) {
  }
}

int ReadGzipHeader(Engine* engine) {
  const char* program = ProgramName();
  const char* name = SourceName(engine);
  engine->method = static_cast<int>(NextInputByte(engine));
  if (engine->method != 8) {
    Message("%s: %s: unknown method %d -- get newer version of gzip\n", program, name, engine->method);
    return -1;
  }
  unsigned flags = NextInputByte(engine);
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
  SkipBytes(engine, 6);  // time, extra flags, operating system
  if (flags & kFlagExtra) {
    unsigned length = NextInputByte(engine);
    length |= NextInputByte(engine) << 8;
    SkipBytes(engine, length);
  }
  if (flags & kFlagName) SkipZeroTerminated(engine);
  if (flags & kFlagComment) SkipZeroTerminated(engine);
  return engine->method;
}

int ReadZipHeader(Engine* engine) {
  const char* program = ProgramName();
  const char* name = SourceName(engine);
  const unsigned char* header = engine->input;
  // The whole local header must lie in what the first read brought in.
  if (engine->input_fill < kZipLocalHeaderSize) {
    Message("\n%s: %s: not a valid zip file\n", program, name);
    return -1;
  }
  unsigned data_start = kZipLocalHeaderSize + LittleEndian16(header + kZipNameLengthOffset) +
                        LittleEndian16(header + kZipExtraLengthOffset);
  if (data_start > engine->input_fill || LittleEndian32(header) != kZipLocalSignature) {
    Message("\n%s: %s: not a valid zip file\n", program, name);
    return -1;
  }
  engine->input_position = data_start;
  engine->method = header[kZipMethodOffset];
  if (engine->method != 0 && engine->method != 8) {
    Message("\n%s: %s: first entry not deflated or stored -- use unzip\n", program, name);
    return -1;
  }
  unsigned flags = header[kZipFlagsOffset];
  if (flags & 1) {
    Message("\n%s: %s: encrypted file -- use unzip\n", program, name);
    return -1;
  }
  engine->sizes_in_descriptor = (flags & 8) != 0;
  engine->zip_entry = 1;
  return engine->method;
}

}  // namespace

int DetectMethod(Engine* engine) {
  unsigned first = NextInputByte(engine);
  unsigned second = NextInputByte(engine);
  engine->method = -1;
  if (first == 0x1f && (second == 0x8b || second == 0x9e)) return ReadGzipHeader(engine);
  if (first == 'P' && second == 'K' && engine->input_position == 2 && engine->input_fill >= 4 &&
      std::memcmp(engine->input, "PK\003\004", 4) == 0) {
    return ReadZipHeader(engine);
  }
  if (first == 0x1f && second == 0x1e) return engine->method = 2;
  if (first == 0x1f && second == 0x9d) return engine->method = 1;
  if (first == 0x1f && second == 0xa0) return engine->method = 3;
  Message("\n%s: %s: not in gzip format\n", ProgramName(), SourceName(engine));
  return -1;
}

}  // namespace zipengine
