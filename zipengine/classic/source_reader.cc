#include "zipengine/classic/source_reader.h"

#include <unistd.h>

#include "zipengine/common/crc32.h"

namespace zipengine {

long ReadSource(Engine* engine, unsigned char* buffer, unsigned size) {
  auto got = read(engine->source_fd, buffer, size);
  if (got <= 0) return 0;
  engine->crc = UpdateCrc32(engine->crc, buffer, static_cast<size_t>(got));
  engine->bytes_read += static_cast<uint32_t>(got);
  return static_cast<long>(got);
}

}  // namespace zipengine
