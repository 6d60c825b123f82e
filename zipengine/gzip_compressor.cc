#include "zipengine/gzip_compressor.h"

#include <cstring>
#include <initializer_list>

#include "zipengine/bit_writer.h"
#include "zipengine/deflate_blocks.h"
#include "zipengine/deflate_loop.h"
#include "zipengine/engine_state.h"
#include "zipengine/match_finder.h"
#include "zipengine/output_writer.h"

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

int CompressRun(int source_fd, int destination_fd) {
  g_engine.source_fd = source_fd;
  g_engine.destination_fd = destination_fd;
  EmptyDestination();

  PutByte(0x1f);
  PutByte(0x8b);
  PutByte(8);  // deflate
  PutByte(g_engine.store_name ? kNameFlag : 0);
  PutLong(0);  // no modification time is recorded
  g_engine.crc = 0xffffffffu;
  ResetBits();

  GetFixedTables();
  StartBlock();
  StartMatchFinder();

  PutByte(0);  // extra flags
  PutByte(kOsNtfs);
  if (g_engine.store_name) {
    for (const char* p = GzipBaseName(g_engine.input_name); *p != '\0'; ++p) PutByte(static_cast<unsigned char>(*p));
    PutByte(0);
  }

  RunDeflate();

  PutLong(~g_engine.crc);
  PutLong(g_engine.bytes_read);
  FlushOutputBuffer();
  return 0;
}

}  // namespace zipengine
