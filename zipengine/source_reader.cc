#include "zipengine/source_reader.h"

#include <unistd.h>

#include "zipengine/crc32.h"
#include "zipengine/engine_state.h"

namespace zipengine {

long ReadSource(unsigned char* buffer, unsigned size) {
  auto got = read(g_engine.source_fd, buffer, size);
  if (got <= 0) return 0;
  g_engine.crc = UpdateCrc32(g_engine.crc, buffer, static_cast<size_t>(got));
  g_engine.bytes_read += static_cast<uint32_t>(got);
  return static_cast<long>(got);
}

}  // namespace zipengine
