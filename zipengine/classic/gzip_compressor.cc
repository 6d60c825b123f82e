#include "zipengine/classic/gzip_compressor.h"

#include <cstring>
#include <initializer_list>

#include "zipengine/classic/bit_writer.h"
#include "zipengine/classic/deflate_loop.h"
#include "zipengine/classic/match_finder.h"
#include "zipengine/classic/output_writer.h"

namespace zipengine {
namespace {

constexpr unsigned kNameFlag = 0x08;
constexpr unsigned kOsNtfs = 11;

}  // namespace

const char* GzipBaseName(const char* name) {
  for (char separator : {'/', '\\', ':'}) {
    const char* cut = std::strrchr(name, separator);
    if (cut != nullptr) name = cut + 1;
  }
  return name;
}

int CompressRun(Engine* engine, const RunFiles& files) {
  BeginRun(engine, files);
  EmptyDestination(engine);

  PutByte(engine, 0x1f);
  PutByte(engine, 0x8b);
  PutByte(engine, 8);  // deflate
  PutByte(engine, engine->store_name ? kNameFlag : 0);
  PutLong(engine, 0);  // no modification time is recorded

  ReadFirstWindow(engine);

  PutByte(engine, 0);  // extra flags
  PutByte(engine, kOsNtfs);
  if (engine->store_name) {
    for (const char* p = GzipBaseName(engine->input_name); *p != '\0'; ++p) {
      PutByte(engine, static_cast<unsigned char>(*p));
    }
    PutByte(engine, 0);
  }

  RunDeflate(engine);

  PutLong(engine, ~engine->crc);
  PutLong(engine, engine->bytes_read);
  FlushOutputBuffer(engine);
  return 0;
}

}  // namespace zipengine
